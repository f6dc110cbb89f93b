#pragma once

#include <chrono>
#include <functional>
#include <map>

namespace testing_support {

// Delayed work that runs only when the test moves time forward: time-outs and spaced steps
// without real waits, whatever the machine's load.
class ManualClock {
public:
    using Work = std::function<void()>;

    // A scheduler to inject: (delay, work).
    auto scheduler() {
        return [this](std::chrono::milliseconds delay, Work work) {
            pending_.emplace(now_ + delay, std::move(work));
        };
    }
    // Runs what is due by `time`, in time order (work scheduled meanwhile included).
    void advanceTo(std::chrono::milliseconds time) {
        while (!pending_.empty() && pending_.begin()->first <= time) {
            auto node = pending_.extract(pending_.begin());
            now_ = node.key();
            node.mapped()();
        }
        now_ = time;
    }
    void advanceBy(std::chrono::milliseconds span) { advanceTo(now_ + span); }
    std::chrono::milliseconds now() const { return now_; }

private:
    std::multimap<std::chrono::milliseconds, Work> pending_;
    std::chrono::milliseconds now_{0};
};

} // namespace testing_support

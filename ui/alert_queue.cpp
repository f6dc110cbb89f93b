#include "ui/alert_queue.hpp"

#include <algorithm>

namespace ui {

bool AlertQueue::holds(const QString& title) const {
    return std::ranges::any_of(alerts_, [&](const Alert& alert) { return alert.title == title; });
}

void AlertQueue::post(const QString& title, const QString& message, Dismissed onDismissed) {
    // The same alert already waiting is no news: one dismissal answers both.
    const auto same = std::ranges::find_if(alerts_, [&](const Alert& alert) {
        return alert.title == title && alert.message == message;
    });
    if (same != alerts_.end()) {
        if (onDismissed) {
            same->onDismissed = [first = std::move(same->onDismissed),
                                 second = std::move(onDismissed)] {
                if (first) {
                    first();
                }
                second();
            };
        }
        return;
    }
    alerts_.push_back({title, message, std::move(onDismissed)});
    if (alerts_.size() == 1) {
        emit currentChanged();
    }
}

void AlertQueue::dismiss() {
    if (alerts_.empty()) {
        return;
    }
    Dismissed done = std::move(alerts_.front().onDismissed);
    alerts_.pop_front();
    if (done) {
        done();
    }
    emit currentChanged();
}

} // namespace ui

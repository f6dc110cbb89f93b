#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace connection {

// One worker thread that runs tasks one at a time, in the order they were posted. Device work
// (enumeration, open, close, writes, the CUPS programs) blocks; it runs here so that the main
// thread never waits on a device, except for the deliberate hand-off of `runAndWait`.
class IoQueue {
public:
    explicit IoQueue(std::string label);
    // Finishes the task in progress, drops the ones not yet started, and joins the thread.
    ~IoQueue();
    IoQueue(const IoQueue&) = delete;
    IoQueue& operator=(const IoQueue&) = delete;

    void post(std::function<void()> task);
    // Runs `task` after everything posted before it, and returns when it has run. Called from
    // the worker itself it runs at once (waiting for itself would never end).
    void runAndWait(const std::function<void()>& task);

    bool isWorkerThread() const { return std::this_thread::get_id() == worker_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::string label_;
    std::thread worker_;
};

} // namespace connection

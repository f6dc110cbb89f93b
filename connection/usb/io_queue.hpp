#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace connection {

// One worker thread that runs tasks one at a time, in the order they were posted. Device work
// (enumeration, open, close, writes, the CUPS programs) blocks; it runs here so that the main
// thread never waits on a device. Nothing ever waits for a task: results travel back as posted
// calls.
class IoQueue {
public:
    explicit IoQueue(std::string label);
    // Asks the task in progress to stop (every blocking step of a task watches `stopToken` and
    // gives up within a fraction of a second), drops the tasks not yet started, and joins.
    ~IoQueue();
    IoQueue(const IoQueue&) = delete;
    IoQueue& operator=(const IoQueue&) = delete;

    void post(std::function<void()> task);

    // Requested when the queue is being destroyed.
    std::stop_token stopToken() const { return stop_.get_token(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::stop_source stop_;
    std::string label_;
    std::thread worker_; // started by the first post
};

} // namespace connection

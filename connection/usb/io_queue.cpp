#include "connection/usb/io_queue.hpp"

#include <pthread.h>

namespace connection {

IoQueue::IoQueue(std::string label) : label_(std::move(label)) {}

IoQueue::~IoQueue() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(tasks_);
    }
    stop_.request_stop();
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
    // Destroyed here, after the worker has ended, and outside the lock.
    dropped.clear();
}

void IoQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        tasks_.push_back(std::move(task));
        if (!worker_.joinable()) {
            // The thread starts with the first task: a transport made but never used has none.
            worker_ = std::thread([this] { run(); });
        }
    }
    wake_.notify_one();
}

void IoQueue::run() {
    // Thread names are limited to 15 characters.
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) {
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

} // namespace connection

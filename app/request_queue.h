// The hand-over of the engine's requests to the window's thread. A request made on another
// thread is queued and run there in the order asked; its requester waits until it ran, so
// a modal message holds the requester until it is dismissed.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QObject;

class request_queue {
public:
    // Requests run on the thread of owner, which outlives every requester.
    explicit request_queue(QObject* owner) : owner_(owner) {}

    // Runs f on the owner's thread: at once when already there, otherwise queued, and
    // returns once it ran.
    void run(const std::function<void()>& f);
    // On the owner's thread: whether a request of that thread is running right now (the
    // owner's thread is then somewhere inside it, and that thread waits for it).
    bool serving(std::thread::id requester) const;

private:
    void drain();

    struct request {
        std::function<void()> run;
        std::thread::id requester;
        bool done = false;
    };
    QObject* owner_;
    // A plain condition variable, so the sanitizers see the wake-up.
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<request>> queue_;
    // The requesters whose requests run now, innermost last; only the owner's thread uses it.
    std::vector<std::thread::id> serving_;
};

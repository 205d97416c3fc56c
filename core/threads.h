// Threads the engine starts and owns: joinable, stopped by request, joined. A body tells
// when it has returned, so the UI thread can keep serving a body blocked in a request
// (every wait there goes through pause_ms) and join only once nothing is left to wait for.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace ov {

// Pauses 10 ms at a time until done() holds, or until max_steps pauses have passed
// (negative: no limit). True when done() held.
bool pause_until(const std::function<bool()>& done, int max_steps = -1);

class owned_thread {
public:
    owned_thread() = default;
    owned_thread(const owned_thread&) = delete;
    owned_thread& operator=(const owned_thread&) = delete;
    // Asks the body to stop and joins it.
    ~owned_thread() { stop(); }

    // Starts body(stop token) unless a body still runs; false when the system made no thread.
    bool start(std::function<void(std::stop_token)> body);
    // True from start until the body has returned.
    bool running() const { return ended_ && !ended_->load(); }
    bool joinable() const { return thread_.joinable(); }
    void request_stop() { thread_.request_stop(); }
    // Waits (serving requests on the UI thread) until the body returned, then joins.
    void join();
    // request_stop, then join.
    void stop();

private:
    std::shared_ptr<std::atomic<bool>> ended_;
    std::jthread thread_;
};

// The monitor threads of every chip. Each start is a thread of its own; those whose
// body returned are joined at the next start, the rest when stop_all is asked.
class thread_group {
public:
    bool start(std::function<void(std::stop_token)> body);
    // Joins the threads whose bodies have returned; never waits.
    void reap();
    // Asks every thread to stop and joins it, serving requests meanwhile.
    void stop_all();
    size_t size();

private:
    std::mutex mutex_;
    std::list<owned_thread> threads_;
};

// Tests make thread creation fail with this.
void simulate_thread_creation_failure(bool fail);

}  // namespace ov

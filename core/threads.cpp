#include "threads.h"

#include <system_error>

#include "clock.h"

namespace ov {

namespace {

std::atomic<bool> refuse_threads{false};

}  // namespace

void simulate_thread_creation_failure(bool fail)
{
    refuse_threads = fail;
}

bool pause_until(const std::function<bool()>& done, int max_steps)
{
    for (int step = 0; !done(); ++step) {
        if (max_steps >= 0 && step >= max_steps)
            return false;
        pause_ms(10);
    }
    return true;
}

bool owned_thread::start(std::function<void(std::stop_token)> body)
{
    if (running() || refuse_threads)
        return false;
    if (thread_.joinable())
        thread_.join();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    try {
        thread_ = std::jthread([body = std::move(body), ended](std::stop_token token) {
            body(token);
            ended->store(true);
        });
    } catch (const std::system_error&) {
        return false;
    }
    ended_ = std::move(ended);
    return true;
}

void owned_thread::join()
{
    if (!thread_.joinable())
        return;
    // Joining at once could block the UI thread while the body waits in a request to it.
    if (thread_.get_id() != std::this_thread::get_id()) {
        pause_until([this] { return !running(); });
        thread_.join();
    }
}

void owned_thread::stop()
{
    request_stop();
    join();
}

bool thread_group::start(std::function<void(std::stop_token)> body)
{
    reap();
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.emplace_back();
    if (threads_.back().start(std::move(body)))
        return true;
    threads_.pop_back();
    return false;
}

void thread_group::reap()
{
    std::list<owned_thread> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = threads_.begin(); it != threads_.end();) {
            const auto next = std::next(it);
            if (!it->running())
                ended.splice(ended.end(), threads_, it);
            it = next;
        }
    }
    // Their bodies have returned: destroying them joins at once.
}

void thread_group::stop_all()
{
    std::list<owned_thread> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        all.splice(all.end(), threads_);
    }
    for (owned_thread& t : all)
        t.request_stop();
    for (owned_thread& t : all)
        t.join();
}

size_t thread_group::size()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_.size();
}

}  // namespace ov

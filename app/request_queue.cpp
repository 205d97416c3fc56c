#include "request_queue.h"

#include <algorithm>

#include <QMetaObject>
#include <QObject>
#include <QThread>

void request_queue::run(const std::function<void()>& f)
{
    if (QThread::currentThread() == owner_->thread()) {
        f();
        return;
    }
    auto item = std::make_shared<request>();
    item->run = f;
    item->requester = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(item);
    }
    QMetaObject::invokeMethod(owner_, [this] { drain(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return item->done; });
}

void request_queue::drain()
{
    for (;;) {
        std::shared_ptr<request> item;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty())
                return;
            item = queue_.front();
            queue_.pop_front();
        }
        serving_.push_back(item->requester);
        item->run();
        serving_.pop_back();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            item->done = true;
        }
        done_.notify_all();
    }
}

bool request_queue::serving(std::thread::id requester) const
{
    return requester != std::thread::id() &&
           std::find(serving_.begin(), serving_.end(), requester) != serving_.end();
}

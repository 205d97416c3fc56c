#include "request_queue.h"

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
        item->run();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            item->done = true;
        }
        done_.notify_all();
    }
}

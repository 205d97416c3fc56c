#include "clock.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace ov {

namespace {

double scale_from_environment()
{
    if (const char* env = std::getenv("OVRAID_TIME_SCALE")) {
        char* end = nullptr;
        const double v = std::strtod(env, &end);
        if (end != env && v > 0)
            return v;
    }
    return 1.0;
}

std::atomic<double>& scale_value()
{
    static std::atomic<double> value{scale_from_environment()};
    return value;
}

std::mutex waiter_mutex;
std::shared_ptr<waiter> current_waiter;

}  // namespace

double time_scale()
{
    return scale_value().load();
}

void set_time_scale(double scale)
{
    if (scale > 0)
        scale_value().store(scale);
}

void set_waiter(waiter w)
{
    std::lock_guard<std::mutex> lock(waiter_mutex);
    current_waiter = w ? std::make_shared<waiter>(std::move(w)) : nullptr;
}

void pause_ms(uint64_t ms)
{
    const uint64_t real_us = static_cast<uint64_t>(static_cast<double>(ms) * 1000.0 / time_scale());
    std::shared_ptr<waiter> w;
    {
        std::lock_guard<std::mutex> lock(waiter_mutex);
        w = current_waiter;
    }
    if (w && (*w)((real_us + 999) / 1000))
        return;
    std::this_thread::sleep_for(std::chrono::microseconds(real_us));
}

}  // namespace ov

#include "clock.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace ov {

namespace {

// Beyond these a pause turns into years or nothing, and ms / scale overflows a count.
constexpr double min_scale = 1e-3, max_scale = 1e4;

double scale_from_environment()
{
    const char* env = std::getenv("OVRAID_TIME_SCALE");
    if (env == nullptr || env[0] == '\0')
        return 1.0;
    double v = 1.0;
    if (!parse_time_scale(env, v))
        std::fputs("OVRAID_TIME_SCALE is not a number from 0.001 to 10000; using 1\n", stderr);
    return v;
}

std::atomic<double>& scale_value()
{
    static std::atomic<double> value{scale_from_environment()};
    return value;
}

std::mutex waiter_mutex;
std::shared_ptr<waiter> current_waiter;

}  // namespace

bool parse_time_scale(const char* text, double& scale)
{
    if (text == nullptr)
        return false;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || v < min_scale || v > max_scale)
        return false;
    scale = v;
    return true;
}

double time_scale()
{
    return scale_value().load();
}

void set_time_scale(double scale)
{
    if (std::isfinite(scale) && scale > 0)
        scale_value().store(scale);
}

void set_waiter(waiter w)
{
    std::lock_guard<std::mutex> lock(waiter_mutex);
    current_waiter = w ? std::make_shared<waiter>(std::move(w)) : nullptr;
}

void pause_ms(uint64_t ms)
{
    // Saturated (about 30 years): a double beyond the integer's range does not convert,
    // and the sleep counts in nanoseconds.
    const double us = static_cast<double>(ms) * 1000.0 / time_scale();
    const uint64_t real_us = us < 1e15 ? static_cast<uint64_t>(us) : 1000000000000000ULL;
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

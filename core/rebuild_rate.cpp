#include "rebuild_rate.h"

#include <cmath>
#include <cstdio>

#include "numbers.h"

namespace ov {

namespace {

constexpr double window_seconds = 60;
constexpr double sector_bytes = 512;

}  // namespace

void rebuild_rate::add(double seconds, uint64_t total, uint64_t current)
{
    if (!samples_.empty()) {
        const sample& last = samples_.back();
        if (current < last.current || total != last.total || seconds < last.seconds)
            samples_.clear();
    }
    samples_.push_back({seconds, total, current});
    // Keep one reading older than the window, so the window is always spanned.
    while (samples_.size() > 2 && samples_.back().seconds - samples_[1].seconds >= window_seconds)
        samples_.pop_front();
}

std::optional<double> rebuild_rate::bytes_per_second() const
{
    if (samples_.size() < 2)
        return std::nullopt;
    const sample& first = samples_.front();
    const sample& last = samples_.back();
    const double span = last.seconds - first.seconds;
    if (span < 1)
        return std::nullopt;
    return static_cast<double>(last.current - first.current) * sector_bytes / span;
}

std::optional<double> rebuild_rate::seconds_left() const
{
    const std::optional<double> speed = bytes_per_second();
    if (!speed || *speed <= 0)
        return std::nullopt;
    const sample& last = samples_.back();
    const uint64_t left = last.total > last.current ? last.total - last.current : 0;
    return static_cast<double>(left) * sector_bytes / *speed;
}

std::string speed_text(double bytes_per_second)
{
    const char* units[] = {"B/s", "kB/s", "MB/s", "GB/s"};
    int unit = 0;
    double value = bytes_per_second < 0 ? 0 : bytes_per_second;
    while (value >= 1000 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    return decimal_text(value, unit == 0 ? 0 : 1) + " " + units[unit];
}

std::string duration_text(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    // Beyond a hundred days a figure says nothing more than "very long".
    const double capped = seconds > 8640000 ? 8640000 : seconds;
    const uint64_t s = static_cast<uint64_t>(std::llround(capped));
    char text[48];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%llu h %02llu min", static_cast<unsigned long long>(s / 3600),
                      static_cast<unsigned long long>(s % 3600 / 60));
    else if (s >= 60)
        std::snprintf(text, sizeof text, "%llu min %02llu s", static_cast<unsigned long long>(s / 60),
                      static_cast<unsigned long long>(s % 60));
    else
        std::snprintf(text, sizeof text, "%llu s", static_cast<unsigned long long>(s));
    return text;
}

}  // namespace ov

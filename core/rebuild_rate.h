// How fast a bridge copies a mirror and when it will be done, from the positions its
// rebuild status reports over time. The window and the command line show the same figures.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace ov {

class rebuild_rate {
public:
    // One reading: seconds on a steady clock, and the status's total and current sector.
    // A position that goes back (the copy started over) or a new total starts afresh.
    void add(double seconds, uint64_t total, uint64_t current);
    void reset() { samples_.clear(); }

    // Bytes copied per second over the last minute of readings; none until two readings
    // at least a second apart show the position.
    std::optional<double> bytes_per_second() const;
    // Seconds until the copy reaches its total at that speed; none without a speed, or
    // with a speed of zero (a copy that stands still has no end in sight).
    std::optional<double> seconds_left() const;

private:
    struct sample {
        double seconds;
        uint64_t total, current;
    };
    std::deque<sample> samples_;
};

// "85.3 MB/s": decimal units, as disk sizes are shown.
std::string speed_text(double bytes_per_second);
// "2 h 05 min", "4 min 10 s", "12 s".
std::string duration_text(double seconds);

}  // namespace ov

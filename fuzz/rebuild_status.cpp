// The rebuild status as the bridge answers it, read over time: the percentage the window
// and the command line show, and the speed and time left made of the readings.
#include <cmath>

#include "fuzz_input.h"
#include "library.h"
#include "panel.h"
#include "rebuild_rate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ovfuzz::input in(data, size);
    ov::rebuild_rate rate;
    double seconds = 0;
    // Each reading: 12 status bytes, then how long after the last one it came (quarter
    // seconds) and whether it is the last of the copy.
    do {
        unsigned char buffer[12];
        in.take(buffer, sizeof buffer);
        const uint8_t step = in.byte();
        const bool final = (in.byte() & 1) != 0;
        const ov::rebuild_status status = ov::rebuild_status::decode(buffer);
        FUZZ_CHECK(std::memcmp(status.data(), buffer, sizeof buffer) == 0);
        const uint64_t total = status.total(), current = status.current();
        FUZZ_CHECK(total < (1ULL << 48) && current < (1ULL << 48));
        const ov::rebuild_status same = ov::rebuild_status::encode(total, current);
        FUZZ_CHECK(std::memcmp(same.data(), buffer, sizeof buffer) == 0);

        const std::optional<double> percent = ov::progress_percent(total, current, final);
        if (percent) {
            FUZZ_CHECK(total != 0 && std::isfinite(*percent) && *percent >= 0 && *percent <= 201);
            FUZZ_CHECK(final || *percent <= 99.0);
            FUZZ_CHECK(!ov::percent_text(*percent).empty());
        } else {
            FUZZ_CHECK(total == 0 || current > 2 * total);
        }

        seconds += step / 4.0;
        rate.add(seconds, total, current);
        const std::optional<double> speed = rate.bytes_per_second();
        if (speed) {
            FUZZ_CHECK(std::isfinite(*speed) && *speed >= 0);
            FUZZ_CHECK(!ov::speed_text(*speed).empty());
        }
        if (const std::optional<double> left = rate.seconds_left()) {
            FUZZ_CHECK(speed && *speed > 0 && std::isfinite(*left) && *left >= 0);
            FUZZ_CHECK(!ov::duration_text(*left).empty());
        }
    } while (!in.empty());
    return 0;
}

// The one clock. Every pause of the system goes through pause_ms(), so a test can
// shorten all of them at once (OVRAID_TIME_SCALE=50 makes every pause 50 times shorter).
#pragma once

#include <cstdint>
#include <functional>

namespace ov {

// Pauses the calling thread for ms milliseconds of system time, divided by the scale.
void pause_ms(uint64_t ms);

// The divisor applied to every pause; read from OVRAID_TIME_SCALE at first use.
double time_scale();
void set_time_scale(double scale);
// A scale as OVRAID_TIME_SCALE gives it: a finite number from 0.001 to 10000, or false.
bool parse_time_scale(const char* text, double& scale);

// The window installs a waiter that, when called on its own thread, keeps delivering
// non-input events while it waits and returns true; on other threads it returns false
// and the clock sleeps plainly.
using waiter = std::function<bool(uint64_t real_ms)>;
void set_waiter(waiter w);

}  // namespace ov

// A fixture that gives each engine test a clean global registry, with the scripted
// library, the in-memory device registry and the recording window installed.
#pragma once

#include "engine_reset.h"
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "clock.h"
#include "library.h"
#include "ovtool.h"
#include "raid.h"
#include "recording_window.h"
#include "registry.h"
#include "requests.h"
#include "scripted_library.h"

namespace ovtest {

// Polls cond (real time) until it holds or the limit passes; for waiting on real
// threads, never for measuring them.
inline bool eventually(const std::function<bool()>& cond,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(20000))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Resets the one global registry and every seam the engine reaches.
inline void reset_engine_and_clock()
{
    reset_engine_globals();
    ov::set_waiter(nullptr);
}

class engine_fixture : public ::testing::Test {
protected:
    scripted_library lib;
    fake_registry reg;
    recording_window window;

    void SetUp() override
    {
        reset_engine_and_clock();
        ov::install_library(&lib);
        ov::install_registry(&reg);
        ov::set_ctrller(&window);
    }

    void TearDown() override
    {
        // No monitor thread may outlive the fakes it talks to.
        for (ov::ovchip& chip : ov::j.chips) {
            chip.raid1_timer_run = false;
            chip.polling = false;
        }
        for (ov::ovchip& chip : ov::j.chips)
            eventually([&] { return !chip.raid1_timer_alive && !chip.poller_alive; });
        lib.on_call = nullptr;
        window.on_request = nullptr;
        reset_engine_and_clock();
        ov::install_library(nullptr);
        ov::install_registry(nullptr);
        ov::set_ctrller(nullptr);
    }

    // One scripted identity per port of a service.
    void give_disks(uint32_t service, const sector& port0, const sector& port1)
    {
        lib.identify[{service, 0}] = port0;
        lib.identify[{service, 1}] = port1;
    }
};

}  // namespace ovtest

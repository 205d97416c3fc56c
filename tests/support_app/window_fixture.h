// The real window controller, built offscreen around hand-made chip states: the engine
// fixture's scripted library answers the engine, its registry counts and drops posted work
// (a refresh that ran would rescan and replace the test's chips), and alerts and process
// exits are recorded instead of shown.
#pragma once

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "window_access.h"

namespace ovtest {

struct alert_seen {
    QString title, message, first, second;
    bool second_is_default = false;   // Enter and Escape both answer with the second button
    int posted_before = 0;   // refreshes already requested when it was shown
    bool on_ui_thread = false;
};

// Holds the engine's handling lock from a thread of its own, as a device handling does,
// until released (or destroyed).
class handling_holder {
public:
    handling_holder()
        : thread_([this] {
              std::lock_guard<std::mutex> lock(ov::j.handling);
              held_ = true;
              while (!release_)
                  std::this_thread::sleep_for(1ms);
          })
    {
        while (!held_)
            std::this_thread::sleep_for(1ms);
    }
    ~handling_holder() { join(); }
    void release() { release_ = true; }
    bool released() const { return release_; }
    void join()
    {
        release();
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> held_{false}, release_{false};
    std::thread thread_;
};

class window_fixture : public engine_fixture, protected window_access {
protected:
    std::vector<alert_seen> alerts;
    std::deque<int> answers;   // answers to the next alerts; 1 (first button) once empty
    std::vector<int> exits;

    void SetUp() override
    {
        engine_fixture::SetUp();
        reg.hold_posts = true;
        controller::set_alert_handler([this](const QString& title, const QString& message, const QString& first,
                                             const QString& second, bool second_is_default) {
            alerts.push_back({title, message, first, second, second_is_default, reg.posted.load(),
                              QThread::currentThread() == qApp->thread()});
            const int answer = answers.empty() ? 1 : answers.front();
            if (!answers.empty())
                answers.pop_front();
            return answer;
        });
        controller::set_exit_handler([this](int status) { exits.push_back(status); });
        if (launch_in_set_up)
            launch();
    }

    void TearDown() override
    {
        // No engine thread may outlive the window; their requests are served meanwhile.
        ov::stop_engine_threads();
        win.reset();
        engine_fixture::TearDown();
        controller::set_alert_handler(nullptr);
        controller::set_exit_handler(nullptr);
    }

    // The window as the application builds it, without the notification thread.
    bool launch_in_set_up = true;
    void launch()
    {
        win = std::make_unique<controller>();
        win->awakeFromNib();
        win->applicationDidFinishLaunching(false);
    }

    // Shown by the window itself, even when its tab page is not the one on view.
    bool shown(const char* name) const { return !find(name)->isHidden(); }

    // A USB bridge with the given disks, known to the registry under `name`; returns its
    // index in the chip list. The presence registers agree with the disks.
    int add_usb_chip(const ov::ovdisk& d0, const ov::ovdisk& d1, int32_t location = 0x100,
                     const std::string& serial = "S123", const std::string& name = "Disk")
    {
        return add_chip(reg.add_usb_bridge(usb_vendor, usb_product, location, serial, name),
                        usb_identity(location, serial), d0, d1);
    }

    int add_firewire_chip(const ov::ovdisk& d0, const ov::ovdisk& d1, uint64_t guid,
                          const std::string& name = "FW Disk")
    {
        return add_chip(reg.add_firewire_bridge(static_cast<int64_t>(guid), name), firewire_identity(guid), d0, d1);
    }

    int add_chip(uint32_t service, const ov::controller_t& id, const ov::ovdisk& d0, const ov::ovdisk& d1)
    {
        ov::ovchip chip;
        chip.service = service;
        chip.identity = id;
        chip.disks[0] = d0;
        chip.disks[1] = d1;
        chip.connection_open = true;
        ov::j.chips.push_back(chip);
        ov::j.setup_controller_map();
        const int index = static_cast<int>(ov::j.chips.size()) - 1;
        answer_as_shown(index);
        return index;
    }

    // The scripted bridge answers as the chip's disks are shown: presence registers and
    // IDENTIFY. Tests that change a disk after adding the chip get it again from show_chip.
    void answer_as_shown(int index)
    {
        const ov::ovchip& c = chip(index);
        const uint32_t registers[2] = {ov::reg_port0_presence, ov::reg_port1_presence};
        for (int port : {0, 1}) {
            const ov::ovdisk& d = c.disks[static_cast<size_t>(port)];
            lib.set_register(c.service, registers[port], d.register_present ? 1 : 0);
            // Written only when it changes: monitors of an earlier panel may be reading.
            const auto it = lib.identify.find({c.service, port});
            if (d.present && (it == lib.identify.end() || it->second != identify_of(d)))
                lib.identify[{c.service, port}] = identify_of(d);
            else if (!d.present && it != lib.identify.end())
                lib.identify.erase(it);
        }
    }

    // Makes the chip current and draws the panel for it.
    void show_chip(int index)
    {
        answer_as_shown(index);
        ov::j.current = chip(index).identity;
        win->update_raid_information();
    }

    // A configured mirror of `set` sectors whose bridge copies port 1 onto port 0: shown, it
    // is followed. Returns its index in the chip list.
    int rebuilding_mirror(uint64_t set = 1000000)
    {
        ov::ovdisk target = member_disk(ov::mode_raid1, set + 16, set);
        ov::ovdisk source = member_disk(ov::mode_raid1, set + 16, set);
        source.rebuild_flag = true;
        const int i = add_usb_chip(target, source);
        chip(i).raid_configured = true;
        chip(i).raid_mode = ov::mode_raid1;
        chip(i).raid_capacity = set;
        chip(i).rebuilding = true;
        chip(i).polling = true;
        chip(i).raid1_pair_present = true;
        return i;
    }

    std::vector<QString> alert_messages() const
    {
        std::vector<QString> out;
        for (const alert_seen& a : alerts)
            out.push_back(a.message);
        return out;
    }
};

}  // namespace ovtest

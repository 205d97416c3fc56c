// The window seam: every request the engine and the registry send to the window.
// The Qt controller implements it; tests record the requests with a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ov {

class window_requests {
public:
    virtual ~window_requests() = default;

    virtual void show_error_and_exit(const std::string& text) = 0;
    virtual void cleargui() = 0;
    virtual void update_raid_information() = 0;
    virtual void clear_controller_list() = 0;
    virtual void update_controller_list() = 0;
    virtual void select_first_controller() = 0;
    virtual void disablegui(bool rebuild_only) = 0;
    virtual void startworking() = 0;
    virtual void stopworking() = 0;
    virtual void refreshtree() = 0;
    virtual void expandtree() = 0;
    virtual void refresh() = 0;
    virtual void startprogressbar() = 0;
    virtual void stopprogressbar() = 0;
    virtual void showrebuildbuttons() = 0;
    virtual void updatepoll(uint64_t total, uint64_t currlba, bool final) = 0;
    virtual void show_message(const std::string& text) = 0;
    virtual void show_hot_swap_message() = 0;
    // A non-modal word to the user that holds up nobody (a bridge left out of a scan, a
    // stalled rebuild).
    virtual void notice(const std::string& text) { (void)text; }
};

// A window that ignores every request: what the engine talks to before a window exists.
class null_window : public window_requests {
public:
    void show_error_and_exit(const std::string&) override {}
    void cleargui() override {}
    void update_raid_information() override {}
    void clear_controller_list() override {}
    void update_controller_list() override {}
    void select_first_controller() override {}
    void disablegui(bool) override {}
    void startworking() override {}
    void stopworking() override {}
    void refreshtree() override {}
    void expandtree() override {}
    void refresh() override {}
    void startprogressbar() override {}
    void stopprogressbar() override {}
    void showrebuildbuttons() override {}
    void updatepoll(uint64_t, uint64_t, bool) override {}
    void show_message(const std::string&) override {}
    void show_hot_swap_message() override {}
};

// Never null: points to a null_window until the window installs itself.
extern window_requests* ctrller;
void set_ctrller(window_requests* window);   // nullptr restores the null window

// The string table. The default lookup returns the key itself.
std::string localized(const std::string& key);
void set_localizer(std::function<std::string(const std::string&)> lookup);

}  // namespace ov

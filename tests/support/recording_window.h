#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "requests.h"

namespace ovtest {

// Records every window request in order, as text: "cleargui", "disablegui 1",
// "updatepoll 1000 250 0", "show_message rebuild_finished". Safe from any thread.
// on_request runs after recording (outside the lock), e.g. to answer or to act like
// the panel.
class recording_window : public ov::window_requests {
public:
    std::vector<std::string> requests() const;
    void clear();
    size_t count(const std::string& request) const;
    bool contains(const std::string& request) const { return count(request) > 0; }
    // Waits (real time) until a request equal to text has been recorded `times` times.
    bool wait_for(const std::string& text, size_t times = 1,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) const;
    // The recorded requests from the first one equal to `from`, or all when absent.
    std::vector<std::string> since(const std::string& from) const;

    std::function<void(const std::string&)> on_request;
    // The panel's own start of the poller when the chip is marked polling.
    bool act_like_panel = false;

    void show_error_and_exit(const std::string& text) override;
    void cleargui() override { record("cleargui"); }
    void update_raid_information() override;
    void clear_controller_list() override { record("clear_controller_list"); }
    void update_controller_list() override { record("update_controller_list"); }
    void select_first_controller() override;
    void disablegui(bool rebuild_only) override { record(std::string("disablegui ") + (rebuild_only ? "1" : "0")); }
    void startworking() override { record("startworking"); }
    void stopworking() override { record("stopworking"); }
    void refreshtree() override { record("refreshtree"); }
    void expandtree() override { record("expandtree"); }
    void refresh() override { record("refresh"); }
    void startprogressbar() override { record("startprogressbar"); }
    void stopprogressbar() override { record("stopprogressbar"); }
    void showrebuildbuttons() override { record("showrebuildbuttons"); }
    void updatepoll(uint64_t total, uint64_t currlba, bool final) override;
    void show_message(const std::string& text) override { record("show_message " + text); }
    void show_hot_swap_message() override { record("show_hot_swap_message"); }
    void notice(const std::string& text) override { record("notice " + text); }

    // select_first_controller selects the first chip in map order, as the window does.
    bool select_like_window = false;

private:
    void record(const std::string& text);
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> log_;
};

}  // namespace ovtest

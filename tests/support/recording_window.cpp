#include "recording_window.h"

#include <algorithm>

#include "ovtool.h"

namespace ovtest {

void recording_window::record(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(text);
    }
    changed_.notify_all();
    if (on_request)
        on_request(text);
}

std::vector<std::string> recording_window::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void recording_window::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

size_t recording_window::count(const std::string& request) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count(log_.begin(), log_.end(), request));
}

bool recording_window::wait_for(const std::string& text, size_t times, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return static_cast<size_t>(std::count(log_.begin(), log_.end(), text)) >= times;
    });
}

std::vector<std::string> recording_window::since(const std::string& from) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(log_.begin(), log_.end(), from);
    if (it == log_.end())
        return log_;
    return std::vector<std::string>(it, log_.end());
}

void recording_window::show_error_and_exit(const std::string& text)
{
    record("show_error_and_exit " + text);
}

void recording_window::update_raid_information()
{
    record("update_raid_information");
    if (!act_like_panel)
        return;
    if (ov::ovchip* chip = ov::j.current_chip())
        if (chip->polling)
            chip->start_polling();
}

void recording_window::select_first_controller()
{
    record("select_first_controller");
    if (!select_like_window || ov::j.chips.empty() || ov::j.controller_map.empty())
        return;
    const int index = ov::j.controller_map.front().second;
    ov::j.current = ov::j.chips[static_cast<size_t>(index)].identity;
    ov::j.chips[static_cast<size_t>(index)].select_chip();
    update_raid_information();
}

void recording_window::updatepoll(uint64_t total, uint64_t currlba, bool final)
{
    record("updatepoll " + std::to_string(total) + " " + std::to_string(currlba) + " " + (final ? "1" : "0"));
}

}  // namespace ovtest

// Binds the panel state of the current chip to the window's widgets. It decides nothing
// itself: texts, pictures, markers and the offered actions all come from ov::panel_of.
#pragma once

#include <QString>
#include <vector>

#include "health.h"
#include "panel.h"
#include "rebuild_rate.h"

namespace Ui {
class controllerform;
}

class panel_binder {
public:
    explicit panel_binder(Ui::controllerform& ui);

    // Every field empty; pictures, progress, rebuild marks and the clear buttons hidden;
    // every action closed.
    void clear();
    // The texts, pictures and markers of a panel, and the clear buttons it offers.
    void show(const ov::panel_state& panel);

    // The actions wanted open. They open only while no scan runs; during a scan the inputs
    // that could start a command are closed as well.
    const ov::panel_actions& wanted() const { return wanted_; }
    void want(const ov::panel_actions& actions);
    // Why the closed ones are closed: each says so in its tooltip and accessible description.
    void explain_restart(const ov::panel_text& reason);
    bool working() const { return working_; }
    void set_working(bool working);

    // What the empty panel says instead of standing blank.
    enum class blank { none, looking, restarting, no_enclosure };
    void set_blank(blank what);

    // The arrow of the copy under way, from port; -1 takes every mark away.
    void mark_rebuild(int port);
    void start_progress();
    void show_progress_texts();
    void stop_progress();
    void set_progress(double percent);
    // Speed and time left beside the bar; "measuring" until the rate knows a speed.
    void set_rate(const ov::rebuild_rate& rate);
    // What looks wrong in a disk's record, one line each; hidden when nothing does.
    void show_warnings(int port, const std::vector<ov::record_warning>& warnings);

private:
    void apply();

    Ui::controllerform& ui_;
    ov::panel_actions wanted_;
    ov::action_reasons reasons_;
    bool working_ = false;
    bool chip_shown_ = false;
    blank blank_ = blank::none;
};

// The engine's text as the window shows it.
QString shown(const ov::panel_text& text);
QString shown_key(const char* key);

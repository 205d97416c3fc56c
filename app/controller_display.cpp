// The engine's requests that change what the window shows: the panel of the current chip,
// which inputs are open while a scan runs, the controller list, the tree, the progress of a
// rebuild, and the tabs and pages.
#include <QApplication>
#include <QButtonGroup>
#include <QPointer>
#include <QScopeGuard>
#include <QComboBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QThread>
#include <QTreeView>
#include <chrono>

#include "clock.h"
#include "controller.h"
#include "functions.h"
#include "health.h"
#include "ovtool.h"
#include "ovview.h"
#include "panel_binder.h"
#include "pictures.h"
#include "registry.h"
#include "requests.h"
#include "tabviewdel.h"
#include "treemodel.h"
#include "ui_controller.h"

using ov::j;

// ---- the panel -----------------------------------------------------------------------------

void controller::cleargui()
{
    on_ui([&] {
        panel_->clear();
        tab_guard_active_ = false;
        ui_->tabview->setCurrentIndex(0);
        last_tab_ = 0;
        tab_guard_active_ = true;
        mainview_->update();
    });
}

void controller::update_raid_information()
{
    on_ui([&] {
        // Emptying the panel hides the tree and buttons: the focus they held comes back to
        // them, not to whatever control the hiding passed it to.
        const QPointer<QWidget> focused = QApplication::focusWidget();
        const auto restore_focus = qScopeGuard([&] {
            if (focused && focused->isVisible() && focused->isEnabled() && QApplication::focusWidget() != focused)
                focused->setFocus(Qt::OtherFocusReason);
        });
        cleargui();
        treemodel_->follow(*ui_->tree, j.current);
        ov::ovchip* chip = j.current_chip();
        const ov::panel_state panel = ov::panel_of(chip, panel_options());
        ov::panel_actions wanted = panel.actions;
        wanted.restart = wanted.restart && !restart_pending_;
        panel_->want(wanted);
        panel_->show(panel);
        no_enclosure_ = j.chips.empty();
        update_restart_control();
        update_blank();
        if (!chip)
            return;
        // The record's faults are the engine's to judge; the window only lists them.
        for (int port = 0; port < 2; ++port)
            panel_->show_warnings(port, ov::record_warnings(*chip, port));
        for (const std::string& key : panel.notices)
            alert(shown_key("attention"), shown_key(key.c_str()), s_ok);
        if (panel.rebuild_tab && !panel.follow_rebuild)
            select_tab(1);
        if (panel.follow_rebuild) {
            chip->start_polling();
            select_tab(1);
            panel_->mark_rebuild(panel.rebuild_mark);
        }
        mainview_->update();
    });
}

void controller::disablegui(bool rebuild_only)
{
    on_ui([&] {
        ov::panel_actions wanted = panel_->wanted();
        wanted.rebuild[0] = wanted.rebuild[1] = false;
        if (!rebuild_only)
            wanted.create = wanted.remove = wanted.clear[0] = wanted.clear[1] = false;
        panel_->want(wanted);
    });
}

int controller::selected_row() const
{
    return radio_group_->checkedId();
}

bool controller::working() const
{
    return panel_->working();
}

void controller::startworking()
{
    if (QThread::currentThread() != thread())
        handling_thread_ = std::this_thread::get_id();
    on_ui([&] {
        // A scan replaces what the last notice said; it may send a new one.
        clear_notice();
        ui_->workingindicator->show();
        panel_->set_working(true);
    });
}

void controller::stopworking()
{
    on_ui([&] {
        ui_->workingindicator->hide();
        // The restarted bridge is back once a device-added handling has ended its warm boot.
        if (restart_pending_ && !j.warm_boot_pending)
            restart_pending_ = false;
        panel_->set_working(false);
        update_restart_control();
        update_blank();
    });
    // An enclosure the scan left out because it could not be read is said, with why, not
    // silently missing from the tree.
    const std::vector<std::string> unread = ov::registry().unreadable_devices();
    if (!unread.empty())
        notice(ov::localized("enclosure_unreadable") + "\n" + unread.front());
    handling_thread_ = std::thread::id();
}

void controller::update_restart_control()
{
    ov::panel_actions wanted = panel_->wanted();
    const bool chip = j.current_chip() != nullptr;
    wanted.restart = !restart_pending_ && chip;
    panel_->want(wanted);
    const char* why = restart_pending_ ? "restarting" : chip ? nullptr : "refuse_no_enclosure";
    panel_->explain_restart(why ? ov::panel_text{ov::text_piece{why, {}, false}} : ov::panel_text{});
}

void controller::update_blank()
{
    using blank = panel_binder::blank;
    panel_->set_blank(restart_pending_ || j.warm_boot_pending ? blank::restarting
                      : no_enclosure_                         ? blank::no_enclosure
                                                              : blank::none);
}

// ---- progress ------------------------------------------------------------------------------

void controller::startprogressbar()
{
    on_ui([&] {
        rate_.reset();
        panel_->start_progress();
    });
}

void controller::showrebuildbuttons()
{
    on_ui([&] { panel_->show_progress_texts(); });
}

void controller::stopprogressbar()
{
    on_ui([&] {
        rate_.reset();
        panel_->stop_progress();
    });
}

void controller::updatepoll(uint64_t total, uint64_t currlba, bool final)
{
    const std::optional<double> percent = ov::progress_percent(total, currlba, final);
    if (!percent)
        return;
    // System time, so a scaled test clock gives the figures the hardware would.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count() *
        ov::time_scale();
    on_ui([&] {
        rate_.add(seconds, total, currlba);
        panel_->set_progress(*percent);
        panel_->set_rate(rate_);
    });
}

// ---- tabs and pages ------------------------------------------------------------------------

bool controller::select_tab(int identifier)
{
    if (!tabdelegate_->shouldSelectTabViewItem(identifier))
        return false;
    tab_guard_active_ = false;
    ui_->tabview->setCurrentIndex(identifier);
    last_tab_ = identifier;
    tab_guard_active_ = true;
    return true;
}

void controller::on_tab_changed(int index)
{
    if (!tab_guard_active_) {
        last_tab_ = index;
        return;
    }
    // The tab bar has already switched: put the old tab back when the guard refuses.
    const int identifier = ui_->tabview->widget(index)->property("identifier").toInt();
    if (working() || !tabdelegate_->shouldSelectTabViewItem(identifier)) {
        tab_guard_active_ = false;
        ui_->tabview->setCurrentIndex(last_tab_);
        tab_guard_active_ = true;
        return;
    }
    last_tab_ = index;
}

void controller::switchguimain()
{
    set_page_faces(ui_->mainguibutton, ui_->showdiskguibutton, true);
    ui_->guitab->setCurrentIndex(0);
}

void controller::switchguishowdisk()
{
    set_page_faces(ui_->mainguibutton, ui_->showdiskguibutton, false);
    ui_->guitab->setCurrentIndex(1);
}

// ---- controller list and selection ---------------------------------------------------------

void controller::clear_controller_list()
{
    on_ui([&] {
        const QSignalBlocker block(ui_->controllerselectbox);
        ui_->controllerselectbox->clear();
    });
}

void controller::fill_controller_list()
{
    QComboBox* box = ui_->controllerselectbox;
    const QSignalBlocker block(box);
    for (size_t i = 0; i < j.chips.size() && i < j.controller_map.size(); ++i) {
        const int index = j.controller_map[i].second;
        if (index < 0 || index >= static_cast<int>(j.chips.size()))
            continue;
        const ov::ovchip& chip = j.chips[static_cast<size_t>(index)];
        box->addItem(ov::stringtonsstring(ov::controller_entry(chip)), index);
        // The entry's text is the bridge's own; the tooltip names it as every new text does.
        box->setItemData(box->count() - 1, shown(ov::enclosure_name(chip.identity)), Qt::ToolTipRole);
    }
    // Nothing is selected by filling; the current controller keeps showing as chosen.
    int shown_row = -1;
    const int current = j.get_controller_num(j.current);
    for (int row = 0; row < box->count(); ++row)
        if (box->itemData(row).toInt() == current)
            shown_row = row;
    box->setCurrentIndex(shown_row);
    box->setToolTip(box->itemData(shown_row, Qt::ToolTipRole).toString());
}

void controller::update_controller_list()
{
    clear_controller_list();
    // The pause is the requester's own, so the window keeps painting meanwhile.
    ov::pause_ms(2000);
    on_ui([&] { fill_controller_list(); });
}

void controller::select_first_controller()
{
    on_ui([&] {
        if (j.chips.empty()) {
            update_raid_information();
            return;
        }
        {
            const QSignalBlocker block(ui_->controllerselectbox);
            ui_->controllerselectbox->setCurrentIndex(0);
        }
        comboBoxSelectionDidChange(0);
    });
}

void controller::comboBoxSelectionDidChange(int index)
{
    if (index < 0 || index >= ui_->controllerselectbox->count())
        return;
    const int chip_index = ui_->controllerselectbox->itemData(index).toInt();
    if (chip_index < 0 || chip_index >= static_cast<int>(j.chips.size()))
        return;
    const ov::controller_t candidate = j.chips[static_cast<size_t>(chip_index)].identity;
    ui_->controllerselectbox->setToolTip(ui_->controllerselectbox->itemData(index, Qt::ToolTipRole).toString());
    if (candidate == j.current)
        return;
    // The old chip's monitors find their chip through the current controller: they must
    // have ended before it changes.
    j.stop_monitors(j.get_controller_num(j.current));
    j.current = candidate;
    // A RAID type chosen for one enclosure is no choice made for the next.
    radio_group_->button(ov::first_row)->setChecked(true);
    ui_->guitab->setCurrentIndex(0);
    switchguimain();
    const int now = j.get_controller_num(j.current);
    if (now != -1)
        j.chips[static_cast<size_t>(now)].select_chip();
    update_raid_information();
}

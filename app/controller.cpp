#include "controller.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QIcon>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "clock.h"
#include "diag.h"
#include "functions.h"
#include "help.h"
#include "host/host.h"
#include "ovtool.h"
#include "ovview.h"
#include "panel_binder.h"
#include "pictures.h"
#include "tabviewdel.h"
#include "treemodel.h"
#include "ui_controller.h"

using ov::j;
using ov::localized;

namespace {

controller::exit_handler exit_override;

// How long the way out waits for monitors and for a running device handling, each, in
// steps of 10 ms: longer than the 8 s pause of a removal handling.
constexpr int exit_wait_steps = 1500;

QString text_of(const char* key)
{
    return ov::stringtonsstring(localized(key));
}

void end_process(int status)
{
    if (exit_override) {
        exit_override(status);
        return;
    }
    // The event loop ends; main then stops and joins the engine's threads and returns, so
    // every destructor runs after the last thread that could use what it destroys.
    QCoreApplication::exit(status);
}

}  // namespace

controller::controller(QObject* parent) : QObject(parent), ui_(std::make_unique<Ui::controllerform>())
{
    mainview_ = new ovview;
    ui_->setupUi(mainview_);
    panel_ = std::make_unique<panel_binder>(*ui_);
    tabdelegate_ = new tabviewdel(this);
    radio_group_ = new QButtonGroup(this);
    QRadioButton* rows[ov::mode_rows] = {ui_->raid_row_0, ui_->raid_row_1, ui_->raid_row_2, ui_->raid_row_3};
    for (int row = 0; row < ov::mode_rows; ++row)
        radio_group_->addButton(rows[row], row);
    radio_group_->setExclusive(true);
    rows[ov::first_row]->setChecked(true);
    treemodel_ = new treemodel(&j.tree, this);
    ui_->tree->setModel(treemodel_);

    connect(ui_->confirmbutton, &QPushButton::clicked, this, &controller::confirm);
    connect(ui_->clearconfigbutton, &QPushButton::clicked, this, &controller::clearconfiguration);
    connect(ui_->cleardisk0button, &QPushButton::clicked, this, &controller::cleardisk0);
    connect(ui_->cleardisk1button, &QPushButton::clicked, this, &controller::cleardisk1);
    connect(ui_->rebuild0to1button, &QPushButton::clicked, this, &controller::rebuild0to1);
    connect(ui_->rebuild1to0button, &QPushButton::clicked, this, &controller::rebuild1to0);
    connect(ui_->refresh_button, &QPushButton::clicked, this, [this] {
        if (!working())
            refresh();
    });
    connect(ui_->warmbootbutton, &QPushButton::clicked, this, &controller::warmboot);
    connect(ui_->mainguibutton, &QAbstractButton::clicked, this, &controller::switchguimain);
    connect(ui_->showdiskguibutton, &QAbstractButton::clicked, this, &controller::switchguishowdisk);
    connect(ui_->minimizebutton, &QAbstractButton::clicked, this, &controller::minimizewindow);
    connect(ui_->closebutton, &QAbstractButton::clicked, this, &controller::exitprogram);
    connect(radio_group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            radio_changed();
    });
    // A user's choice only: filling the list never selects anything by itself.
    connect(ui_->controllerselectbox, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (!begin_command())
            return;
        comboBoxSelectionDidChange(index);
        end_command();
    });
    connect(ui_->tabview, &QTabWidget::currentChanged, this, &controller::on_tab_changed);
    connect(ui_->tree, &QTreeView::activated, this, &controller::tree_chosen);
    connect(ui_->tree, &QTreeView::clicked, this, &controller::tree_chosen);
    connect(ui_->tree->selectionModel(), &QItemSelectionModel::currentChanged, this, &controller::tree_chosen);
    notice_timer_ = new QTimer(this);
    notice_timer_->setSingleShot(true);
    connect(notice_timer_, &QTimer::timeout, this, &controller::clear_notice);
    ui_->noticelabel->setProperty("active", false);
}

controller::~controller()
{
    ov::set_waiter(nullptr);
    if (ov::ctrller == this)
        ov::set_ctrller(nullptr);
    // The window owns the view once it is made; before that the view is ours.
    if (mainwindow_)
        delete mainwindow_;
    else
        delete mainview_;
}

// ---- start-up ------------------------------------------------------------------------------

void controller::awakeFromNib()
{
    mainview_->awakeFromNib();
    cleargui();
    set_page_faces(ui_->mainguibutton, ui_->showdiskguibutton, true);
    ui_->tabview->widget(0)->setProperty("identifier", 0);
    ui_->tabview->widget(1)->setProperty("identifier", 1);
}

void controller::applicationDidFinishLaunching(bool start_notification)
{
    mainwindow_ = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
    mainwindow_->setObjectName(QStringLiteral("mainwindow"));
    mainwindow_->setAttribute(Qt::WA_TranslucentBackground);
    // A closed action's tooltip says why: it must show even while another window is active.
    mainwindow_->setAttribute(Qt::WA_AlwaysShowToolTips);
    mainwindow_->setWindowTitle(text_of("app_title"));
    mainwindow_->setWindowIcon(QIcon(QStringLiteral(":/images/ovraid.png")));
    auto* layout = new QVBoxLayout(mainwindow_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mainview_);
    mainwindow_->setFixedSize(800, 630);
    // A close from the window manager leaves through the same door as the close control.
    mainwindow_->installEventFilter(this);
    mainwindow_->move(100, 100);
    mainwindow_->show();
    mainwindow_->raise();
    mainwindow_->activateWindow();
    ui_->controllerselectbox->setFocus();
    ov::install_help(*this);
    // F5 as in every viewer of things that change: the refresh button's own action.
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), mainwindow_);
    connect(f5, &QShortcut::activated, ui_->refresh_button, &QPushButton::click);

    // Waits on this thread keep delivering the requests of blocked monitors.
    QThread* ui_thread = thread();
    ov::set_waiter([ui_thread](uint64_t ms) {
        if (QThread::currentThread() != ui_thread)
            return false;
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(ms), &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        return true;
    });
    ov::set_ctrller(this);
    s_ok = text_of("ok");
    s_cancel = text_of("cancel");
    s_warning = text_of("warning");
    s_error = text_of("error");
    s_attention = text_of("attention");
    update_restart_control();
    if (start_notification) {
        if (!ov::start_notification_thread())
            show_error_and_exit("Error creating device notification thread");
    }
}

bool controller::check_OS_version() const
{
    const ov::system_version v = ov::host_system_version();
    return v.major > 9 && v.minor > 5 && v.patch >= 0;
}

ov::panel_options controller::panel_options() const
{
    return {selected_row(), check_OS_version()};
}

// ---- the end of the process ----------------------------------------------------------------

void controller::set_exit_handler(exit_handler handler)
{
    exit_override = std::move(handler);
}

void controller::show_error_and_exit(const std::string& text)
{
    // A device handling that fails holds the handling lock while it waits here: the way
    // out must not wait for it.
    const bool caller_holds_handling =
        QThread::currentThread() != thread() && handling_thread_.load() == std::this_thread::get_id();
    on_ui([&] {
        alert(text_of("error"), ov::stringtonsstring(text), s_ok.isEmpty() ? text_of("ok") : s_ok);
        leave(3, caller_holds_handling);
    });
}

void controller::exitprogram()
{
    end_program(0);
}

void controller::end_program(int status)
{
    on_ui([&] { leave(status, false); });
}

void controller::leave(int status, bool caller_holds_handling)
{
    // A second way out while the first one waits (a close during the wait) is the same one.
    if (leaving_)
        return;
    leaving_ = true;
    // The chip list is only stable under the handling lock: a command of this thread holds
    // it already; otherwise wait for a running handling, serving its requests meanwhile.
    // A handling waiting for an answer from this thread (a message it raised is open, and
    // this runs inside it) cannot end before this returns.
    caller_holds_handling = caller_holds_handling || requests_.serving(handling_thread_.load());
    bool took = false;
    if (!in_command_ && !caller_holds_handling)
        took = ov::pause_until([] { return j.handling.try_lock(); }, exit_wait_steps);
    for (ov::ovchip& chip : j.chips) {
        chip.raid1_timer_run = false;
        chip.polling = false;
    }
    const auto monitors_alive = [] {
        for (const ov::ovchip& chip : j.chips)
            if (chip.raid1_timer_alive || chip.poller_alive)
                return true;
        return false;
    };
    // Pausing here keeps serving the hand-over, so a monitor blocked in a request ends.
    ov::pause_until([&] { return !monitors_alive(); }, exit_wait_steps);
    // The notification thread ends only after main is back from the event loop: a handling
    // still running must find the lock free.
    if (took)
        j.handling.unlock();
    left_ = true;
    exit_status_ = status;
    if (mainwindow_ && !exit_override)
        mainwindow_->hide();
    // Ending the event loop now would cut short every pause of a command in progress (this
    // runs inside one of them): the command finishes first and the loop ends behind it.
    if (in_command_ && !exit_override) {
        exit_deferred_ = true;
        return;
    }
    end_process(status);
    // A test's exit handler comes back here; the program may then leave again.
    if (exit_override) {
        left_ = false;
        leaving_ = false;
    }
}

int controller::finish(int status)
{
    if (!left_)
        leave(status, false);
    // A bridge library call that never returns would hold the way out for ever: after a
    // bound the process ends without running what those threads still use.
    std::jthread watchdog([code = exit_status_](std::stop_token stop) {
        constexpr uint64_t slice_ms = 100;
        constexpr uint64_t bound_ms = 30000;
        for (uint64_t waited = 0; waited < bound_ms; waited += slice_ms) {
            if (stop.stop_requested())
                return;
            ov::pause_ms(slice_ms);
        }
        ov::diag(ov::diag_level::warning, "ovraid: a device call does not return; ending without waiting for it");
        std::fflush(nullptr);
        std::_Exit(code);
    });
    ov::stop_engine_threads();
    watchdog.request_stop();
    return exit_status_;
}

bool controller::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mainwindow_ && event->type() == QEvent::Close) {
        // The window stays: the process ends through the one way out instead.
        event->ignore();
        end_program(0);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void controller::minimizewindow()
{
    if (mainwindow_)
        mainwindow_->showMinimized();
}

// ---- commands ------------------------------------------------------------------------------

bool controller::begin_command()
{
    if (working() || leaving_)
        return false;
    if (in_command_)
        return true;
    // A device handling runs on the notification thread: the command waits for none.
    if (!j.handling.try_lock())
        return false;
    in_command_ = true;
    return true;
}

void controller::end_command()
{
    if (!in_command_)
        return;
    in_command_ = false;
    j.handling.unlock();
    if (exit_deferred_) {
        exit_deferred_ = false;
        end_process(exit_status_);
    }
}

bool controller::agreed(const ov::question& question)
{
    return question.text.empty() ||
           alert(s_warning, shown(question.text), s_ok, s_cancel, question.no_by_default) == 1;
}

void controller::failed(ov::command command, const ov::write_report& report)
{
    alert(s_error, shown(ov::failure_of(command, report)), s_ok);
    // What the disks hold is no longer what the panel shows (a clear also stopped the
    // chip's monitors); a failed restart has queued its rescan itself.
    if (command != ov::command::restart)
        refresh();
}

void controller::refresh()
{
    // The rescan runs on the notification thread, behind any handling already queued.
    ov::request_refresh();
}

void controller::confirm()
{
    if (!begin_command())
        return;
    const int index = j.get_controller_num(j.current);
    const uint32_t mode = ov::mode_of_row(selected_row());
    if (index >= 0 && mode != ov::mode_none &&
        agreed(ov::question_before(j.chips[static_cast<size_t>(index)], ov::command::create))) {
        cleargui();
        // The command holds the handling lock: the chip stays at its index meanwhile.
        if (!j.build_raid(index, static_cast<int>(mode)))
            failed(ov::command::create, j.chips[static_cast<size_t>(index)].last_write);
    }
    end_command();
}

void controller::clearconfiguration()
{
    if (!begin_command())
        return;
    const int index = j.get_controller_num(j.current);
    if (index >= 0 && agreed(ov::question_before(j.chips[static_cast<size_t>(index)], ov::command::remove))) {
        cleargui();
        if (!j.clear_raid(index))
            failed(ov::command::remove, j.chips[static_cast<size_t>(index)].last_write);
    }
    end_command();
}

void controller::cleardisk(bool port)
{
    if (!j.current_chip() || !begin_command())
        return;
    ov::ovchip* chip = j.current_chip();
    if (agreed(ov::question_before(*chip, ov::command::clear_disk, port)) && chip->disks[port].present &&
        !chip->clear_disk(port))
        failed(ov::command::clear_disk, chip->last_write);
    end_command();
}

void controller::radio_changed()
{
    if (j.chips.empty())
        return;
    ov::panel_actions wanted = panel_->wanted();
    wanted.create = ov::panel_of(j.current_chip(), panel_options()).actions.create;
    panel_->want(wanted);
}

void controller::warmboot()
{
    if (restart_pending_ || !j.current_chip() || !begin_command())
        return;
    ov::ovchip* chip = j.current_chip();
    if (!agreed(ov::question_before(*chip, ov::command::restart))) {
        end_command();
        return;
    }
    // Closed from the click until the restarted bridge is back.
    restart_pending_ = true;
    update_restart_control();
    update_blank();
    disablegui(false);
    if (!j.warm_boot()) {
        // No restart, so no return to wait for.
        restart_pending_ = false;
        update_restart_control();
        update_blank();
        failed(ov::command::restart, chip->last_write);
    }
    end_command();
}

void controller::start_rebuild(bool source)
{
    if (!j.current_chip() || !begin_command())
        return;
    ov::ovchip* chip = j.current_chip();
    if (agreed(ov::question_before(*chip, ov::command::rebuild, source)) && !chip->rebuild(source))
        failed(ov::command::rebuild, chip->last_write);
    end_command();
}

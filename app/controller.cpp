#include "controller.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QToolButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <thread>
#include <unistd.h>

#include "clock.h"
#include "functions.h"
#include "host/host.h"
#include "safety.h"
#include "ovtool.h"
#include "ovview.h"
#include "tabviewdel.h"
#include "treemodel.h"
#include "ui_controller.h"

using ov::j;
using ov::localized;

namespace {

controller::alert_handler_with_default alert_override;
controller::exit_handler exit_override;

// How long the way out waits for monitors and for a running device handling, each, in
// steps of 10 ms: longer than the 8 s pause of a removal handling.
constexpr int exit_wait_steps = 1500;
// A notice stays this long unless a scan clears it first.
constexpr int notice_ms = 30000;

QString text_of(const char* key)
{
    return ov::stringtonsstring(localized(key));
}

// A table text with its %1 and %2 filled in; a key without a text stays as it is.
QString text_of(const char* key, const QString& one, const QString& two = QString())
{
    QString text = text_of(key);
    text.replace(QStringLiteral("%1"), one);
    text.replace(QStringLiteral("%2"), two);
    return text;
}

// An alert text followed by what the engine says went wrong, when it says anything.
QString with_failure(const QString& text, const ov::write_report& report)
{
    const QString why = ov::stringtonsstring(ov::failure_text(report));
    return why.isEmpty() ? text : text + QStringLiteral("\n\n") + why;
}

// A disk that is there but cannot be judged: silent at IDENTIFY, or its record unreadable.
bool unknown_disk(const ov::ovdisk& disk)
{
    return (disk.register_present && !disk.present) || (disk.present && disk.record_unknown);
}

// Both disks answer and their records are known: only then may a command write to both.
bool pair_writable(const ov::ovchip& chip)
{
    return chip.disks[0].present && chip.disks[1].present && !unknown_disk(chip.disks[0]) &&
           !unknown_disk(chip.disks[1]);
}

bool rebuild_running(const ov::ovchip& chip)
{
    return chip.rebuilding || chip.polling;
}

bool member_mode(uint32_t mode)
{
    return mode == ov::mode_raid0 || mode == ov::mode_raid1 || mode == ov::mode_span;
}

// A drive seen from above: body, platter and head, drawn for any size.
QPixmap disk_picture(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(size * 0.14, size * 0.04, size * 0.72, size * 0.92);
    QLinearGradient shade(body.topLeft(), body.bottomRight());
    shade.setColorAt(0, QColor(0x9a, 0xa7, 0xb8));
    shade.setColorAt(1, QColor(0x5c, 0x69, 0x7a));
    p.setPen(QPen(QColor(0x3d, 0x48, 0x57), size / 40.0));
    p.setBrush(shade);
    p.drawRoundedRect(body, size * 0.08, size * 0.08);
    const QPointF centre(size * 0.5, size * 0.42);
    p.setBrush(QColor(0xe3, 0xe8, 0xef));
    p.drawEllipse(centre, size * 0.27, size * 0.27);
    p.setBrush(QColor(0x8b, 0x97, 0xa8));
    p.drawEllipse(centre, size * 0.06, size * 0.06);
    p.setPen(QPen(QColor(0x2f, 0x6f, 0xd6), size / 16.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(size * 0.74, size * 0.84), QPointF(size * 0.56, size * 0.5));
    return pixmap;
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
    tabdelegate_ = new tabviewdel(this);
    radio_group_ = new QButtonGroup(this);
    QRadioButton* rows[] = {ui_->raid_row_0, ui_->raid_row_1, ui_->raid_row_2, ui_->raid_row_3};
    for (int row = 0; row < 4; ++row)
        radio_group_->addButton(rows[row], row);
    radio_group_->setExclusive(true);
    // A selection is always held, and it starts on the mirror: create can never mean delete.
    ui_->raid_row_1->setChecked(true);
    treemodel_ = new treemodel(&j.tree, this);
    ui_->tree->setModel(treemodel_);

    connect(ui_->confirmbutton, &QPushButton::clicked, this, &controller::confirm);
    connect(ui_->clearconfigbutton, &QPushButton::clicked, this, &controller::clearconfiguration);
    connect(ui_->cleardisk0button, &QPushButton::clicked, this, &controller::cleardisk0);
    connect(ui_->cleardisk1button, &QPushButton::clicked, this, &controller::cleardisk1);
    connect(ui_->rebuild0to1button, &QPushButton::clicked, this, &controller::rebuild0to1);
    connect(ui_->rebuild1to0button, &QPushButton::clicked, this, &controller::rebuild1to0);
    connect(ui_->refresh_button, &QPushButton::clicked, this, [this] {
        if (!working_)
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

void controller::on_ui(const std::function<void()>& f)
{
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    auto item = std::make_shared<request>();
    item->run = f;
    {
        std::lock_guard<std::mutex> lock(requests_mutex_);
        requests_.push_back(item);
    }
    QMetaObject::invokeMethod(this, "drain_requests", Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(requests_mutex_);
    requests_done_.wait(lock, [&] { return item->done; });
}

void controller::drain_requests()
{
    for (;;) {
        std::shared_ptr<request> item;
        {
            std::lock_guard<std::mutex> lock(requests_mutex_);
            if (requests_.empty())
                return;
            item = requests_.front();
            requests_.pop_front();
        }
        item->run();
        {
            std::lock_guard<std::mutex> lock(requests_mutex_);
            item->done = true;
        }
        requests_done_.notify_all();
    }
}

// ---- start-up ------------------------------------------------------------------------------

void controller::awakeFromNib()
{
    mainview_->awakeFromNib();
    cleargui();
    setGUIStrings();
    ui_->tabview->widget(0)->setProperty("identifier", 0);
    ui_->tabview->widget(1)->setProperty("identifier", 1);
}

void controller::applicationDidFinishLaunching(bool start_notification)
{
    mainwindow_ = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
    mainwindow_->setObjectName(QStringLiteral("mainwindow"));
    mainwindow_->setAttribute(Qt::WA_TranslucentBackground);
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

void controller::setGUIStrings()
{
    ui_->confirmbutton->setText(text_of("create_raid"));
    ui_->clearconfigbutton->setText(text_of("delete_raid"));
    ui_->raid_config_radio_box->setTitle(text_of("raid_configuration"));
    ui_->tabview->setTabText(0, text_of("configuration_tab"));
    ui_->tabview->setTabText(1, text_of("rebuild"));
    ui_->rebuildlabel->setText(text_of("rebuild_progress"));
    ui_->disk1_SN_static_label->setText(text_of("SN"));
    ui_->disk2_SN_static_label->setText(text_of("SN"));
    ui_->disk1_info_static_label->setText(text_of("disk_1"));
    ui_->disk1_rebuild_static_label->setText(text_of("disk_1"));
    ui_->disk2_info_static_label->setText(text_of("disk_2"));
    ui_->disk2_rebuild_static_label->setText(text_of("disk_2"));
    ui_->disk1_physize_static_label->setText(text_of("phy_size"));
    ui_->disk2_physize_static_label->setText(text_of("phy_size"));
    ui_->disk1_mode_static_label->setText(text_of("mode"));
    ui_->disk2_mode_static_label->setText(text_of("mode"));
    ui_->raid_status_box->setTitle(text_of("raid_status"));
    ui_->refresh_button->setText(text_of("refresh_button"));
    ui_->rebuild0to1button->setText(text_of("rebuild") + QStringLiteral("->"));
    ui_->rebuild1to0button->setText(QStringLiteral("<-") + text_of("rebuild"));

    // Our own additions: the warm boot control, the radio rows and accessible names.
    ui_->warmbootbutton->setText(text_of("warm_boot"));
    ui_->warmbootbutton->setToolTip(text_of("warm_boot_tooltip"));
    ui_->app_title_label->setText(text_of("app_title"));
    const char* rows[] = {"raid_mode_row_0", "raid_mode_row_1", "raid_mode_row_2", "raid_mode_row_3"};
    for (int row = 0; row < 4; ++row)
        radio_group_->button(row)->setText(text_of(rows[row]));
    ui_->controllerselectbox->setAccessibleName(text_of("controller_list"));
    ui_->tree->setAccessibleName(text_of("device_tree"));
    ui_->minimizebutton->setText(QStringLiteral("\u2013"));
    ui_->minimizebutton->setAccessibleName(text_of("minimize"));
    ui_->minimizebutton->setToolTip(text_of("minimize"));
    ui_->closebutton->setText(QStringLiteral("\u00D7"));
    ui_->closebutton->setAccessibleName(text_of("close"));
    ui_->closebutton->setToolTip(text_of("close"));
    ui_->mainguibutton->setAccessibleName(text_of("page_raid_status"));
    ui_->mainguibutton->setToolTip(text_of("page_raid_status"));
    ui_->showdiskguibutton->setAccessibleName(text_of("page_disk_info"));
    ui_->showdiskguibutton->setToolTip(text_of("page_disk_info"));
    ui_->rebuild0to1button->setToolTip(text_of("rebuild_0_to_1_tooltip"));
    ui_->rebuild0to1button->setAccessibleName(text_of("rebuild_0_to_1_tooltip"));
    ui_->rebuild1to0button->setToolTip(text_of("rebuild_1_to_0_tooltip"));
    ui_->rebuild1to0button->setAccessibleName(text_of("rebuild_1_to_0_tooltip"));
    ui_->refresh_button->setToolTip(text_of("refresh_tooltip"));
    ui_->workingindicator->setAccessibleName(text_of("working"));
    ui_->levelindicator->setAccessibleName(text_of("rebuild_progress"));
    ui_->mainguibutton->setCheckable(true);
    ui_->showdiskguibutton->setCheckable(true);
    ui_->mainguibutton->setText(text_of("page_raid_status"));
    ui_->showdiskguibutton->setText(text_of("page_disk_info"));
    ui_->mainguibutton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ui_->showdiskguibutton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    const QPixmap drive = disk_picture(56);
    ui_->disk0cappicture->setPixmap(drive);
    ui_->disk1cappicture->setPixmap(drive);
    ui_->disk0cappicture->setAccessibleName(text_of("disk_1"));
    ui_->disk1cappicture->setAccessibleName(text_of("disk_2"));
    set_page_images(true);
}

bool controller::check_OS_version() const
{
    const ov::system_version v = ov::host_system_version();
    return v.major > 9 && v.minor > 5 && v.patch >= 0;
}

// ---- alerts and the end of the process ----------------------------------------------------------

void controller::set_alert_handler(alert_handler handler)
{
    if (!handler) {
        alert_override = nullptr;
        return;
    }
    alert_override = [handler](const QString& title, const QString& message, const QString& first,
                               const QString& second, bool) { return handler(title, message, first, second); };
}

void controller::set_alert_handler(alert_handler_with_default handler)
{
    alert_override = std::move(handler);
}

void controller::set_alert_handler(std::nullptr_t)
{
    alert_override = nullptr;
}

void controller::set_exit_handler(exit_handler handler)
{
    exit_override = std::move(handler);
}

int controller::alert(const QString& title, const QString& message, const QString& first, const QString& second,
                      bool second_is_default)
{
    if (second.isEmpty())
        second_is_default = false;
    if (alert_override)
        return alert_override(title, message, first, second, second_is_default);
    QMessageBox box(QMessageBox::NoIcon, title, message, QMessageBox::NoButton, mainwindow_);
    QPushButton* one = box.addButton(first, QMessageBox::AcceptRole);
    QPushButton* two = second.isEmpty() ? nullptr : box.addButton(second, QMessageBox::RejectRole);
    box.setDefaultButton(second_is_default ? two : one);
    box.setEscapeButton(two ? two : one);
    box.exec();
    if (box.clickedButton() == one)
        return 1;
    if (two && box.clickedButton() == two)
        return 0;
    return -2;
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
    ov::stop_engine_threads();
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

void controller::show_message(const std::string& text)
{
    on_ui([&] { alert(s_attention, ov::stringtonsstring(text), s_ok); });
}

void controller::show_hot_swap_message()
{
    on_ui([&] { alert(s_attention, text_of("hot_swap"), s_ok); });
}

void controller::notice(const std::string& text)
{
    const QString shown = ov::stringtonsstring(text);
    on_ui([&] {
        ui_->noticelabel->setText(shown);
        ui_->noticelabel->setProperty("active", !shown.isEmpty());
        ui_->noticelabel->style()->polish(ui_->noticelabel);
        notice_timer_->start(std::max(1, static_cast<int>(notice_ms / ov::time_scale())));
    });
}

void controller::clear_notice()
{
    notice_timer_->stop();
    ui_->noticelabel->clear();
    ui_->noticelabel->setProperty("active", false);
    ui_->noticelabel->style()->polish(ui_->noticelabel);
}

// ---- enabling ----------------------------------------------------------------------------------

void controller::set_enabled(QWidget* widget, bool enabled)
{
    wanted_enabled_[widget] = enabled;
    widget->setEnabled(enabled && !working_);
}

void controller::enable_confirm()
{
    // The fourth row sends no mode: create stays closed while it is chosen.
    set_enabled(ui_->confirmbutton, selected_row() != 3);
}

int controller::selected_row() const
{
    return radio_group_->checkedId();
}

void controller::disablegui(bool rebuild_only)
{
    on_ui([&] {
        set_enabled(ui_->rebuild0to1button, false);
        set_enabled(ui_->rebuild1to0button, false);
        if (!rebuild_only) {
            set_enabled(ui_->confirmbutton, false);
            set_enabled(ui_->cleardisk0button, false);
            set_enabled(ui_->cleardisk1button, false);
            set_enabled(ui_->clearconfigbutton, false);
        }
    });
}

void controller::enablegui(bool rebuild_only)
{
    set_enabled(ui_->rebuild0to1button, true);
    set_enabled(ui_->rebuild1to0button, true);
    if (!rebuild_only) {
        enable_confirm();
        set_enabled(ui_->cleardisk0button, true);
        set_enabled(ui_->cleardisk1button, true);
        set_enabled(ui_->clearconfigbutton, true);
    }
}

void controller::startworking()
{
    if (QThread::currentThread() != thread())
        handling_thread_ = std::this_thread::get_id();
    on_ui([&] {
        working_ = true;
        // A scan replaces what the last notice said; it may send a new one.
        clear_notice();
        ui_->workingindicator->show();
        QWidget* inputs[] = {ui_->controllerselectbox, ui_->refresh_button, ui_->warmbootbutton,
                             ui_->raidconfigradiobutton, ui_->tabview->tabBar()};
        for (QWidget* w : inputs)
            if (!wanted_enabled_.count(w))
                wanted_enabled_[w] = true;
        for (auto& [widget, wanted] : wanted_enabled_)
            widget->setEnabled(false);
    });
}

void controller::stopworking()
{
    on_ui([&] {
        working_ = false;
        ui_->workingindicator->hide();
        // The restarted bridge is back once a device-added handling has ended its warm boot.
        if (restart_pending_ && !j.warm_boot_pending)
            restart_pending_ = false;
        update_restart_control();
        for (auto& [widget, wanted] : wanted_enabled_)
            widget->setEnabled(wanted);
    });
    handling_thread_ = std::thread::id();
}

void controller::update_restart_control()
{
    set_enabled(ui_->warmbootbutton, !restart_pending_ && j.current_chip() != nullptr);
}

bool controller::begin_command()
{
    if (working_)
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
}

// ---- the panel ---------------------------------------------------------------------------------

QString controller::physical_size_text(uint64_t sectors) const
{
    if (check_OS_version())
        return ov::stringtonsstring(ov::inttostring(sectors * 512 / 1000000000ULL) + " GB");
    return ov::stringtonsstring(ov::inttostring(sectors / 2097152ULL) + " GB");
}

QString controller::capacity_text(uint64_t sectors) const
{
    if (!check_OS_version())
        return ov::stringtonsstring(ov::inttostring(sectors / 2097152ULL) + " GB");
    const uint64_t g = sectors * 512 / 1000000000ULL;
    if (g >= 1000)
        return QString::asprintf("%.2f", static_cast<double>(g) / 1000.0) + QStringLiteral(" TB");
    return ov::stringtonsstring(ov::inttostring(g) + " GB");
}

void controller::cleargui()
{
    on_ui([&] {
        ui_->tree->hide();
        QLabel* fields[] = {ui_->disk0modelfield, ui_->disk0serialfield, ui_->disk0modefield, ui_->disk0sizefield,
                            ui_->disk1modelfield, ui_->disk1serialfield, ui_->disk1modefield, ui_->disk1sizefield,
                            ui_->rebuilddisk0field, ui_->rebuilddisk1field, ui_->disk0oldnewlabel,
                            ui_->disk1oldnewlabel, ui_->disk0picmodefield, ui_->disk1picmodefield,
                            ui_->raidmodelabel, ui_->disk0caplabel, ui_->disk0label, ui_->disk1caplabel,
                            ui_->disk1label};
        for (QLabel* field : fields)
            field->clear();
        set_enabled(ui_->cleardisk0button, false);
        set_enabled(ui_->cleardisk1button, false);
        ui_->cleardisk0button->hide();
        ui_->cleardisk1button->hide();
        set_enabled(ui_->rebuild0to1button, false);
        set_enabled(ui_->rebuild1to0button, false);
        for (QPushButton* b : {ui_->rebuild0to1button, ui_->rebuild1to0button}) {
            b->setDown(false);
            b->setIcon(QIcon());
        }
        ui_->disk0cappicture->hide();
        ui_->disk1cappicture->hide();
        ui_->levelindicator->hide();
        ui_->rebuildlabel->hide();
        ui_->percentagefield->hide();
        tab_guard_active_ = false;
        ui_->tabview->setCurrentIndex(0);
        last_tab_ = 0;
        tab_guard_active_ = true;
        refreshgui();
        disablegui(false);
        mainview_->update();
    });
}

void controller::refreshgui()
{
    QWidget* widgets[] = {ui_->disk0modefield,    ui_->disk0serialfield,  ui_->disk0modelfield,  ui_->disk0sizefield,
                          ui_->disk1modelfield,   ui_->disk1serialfield,  ui_->disk1modefield,   ui_->disk1sizefield,
                          ui_->cleardisk0button,  ui_->cleardisk1button,  ui_->rebuilddisk0field, ui_->rebuilddisk1field,
                          ui_->rebuild0to1button, ui_->rebuild1to0button, ui_->disk0oldnewlabel, ui_->disk1oldnewlabel,
                          ui_->disk0picmodefield, ui_->disk1picmodefield, ui_->raidmodelabel,   ui_->disk0caplabel,
                          ui_->disk0cappicture,   ui_->disk0label,        ui_->disk1caplabel,    ui_->disk1cappicture,
                          ui_->disk1label,        ui_->levelindicator,    ui_->rebuildlabel,     ui_->percentagefield};
    for (QWidget* w : widgets)
        w->update();
}

void controller::update_raid_information()
{
    on_ui([&] {
        const int index = j.get_controller_num(j.current);
        cleargui();
        disablegui(false);
        update_restart_control();
        if (j.chips.empty() || index < 0)
            return;
        ov::ovchip& chip = j.chips[static_cast<size_t>(index)];
        const ov::ovdisk& d0 = chip.disks[0];
        const ov::ovdisk& d1 = chip.disks[1];
        const QString mode_texts[] = {text_of("not_config"), text_of("raid_0"), text_of("raid_1"),
                                      text_of("not_config"), text_of("span"),  text_of("not_config")};
        const auto mode_text = [&](uint32_t mode) { return mode <= 5 ? mode_texts[mode] : mode_texts[0]; };

        struct disk_widgets {
            QLabel *model, *serial, *size, *mode, *rebuildfield, *oldnew, *cap, *label, *picmode, *picture;
            QPushButton *rebuild, *clear;
            const char* caption;
        };
        const disk_widgets widgets[2] = {
            {ui_->disk0modelfield, ui_->disk0serialfield, ui_->disk0sizefield, ui_->disk0modefield,
             ui_->rebuilddisk0field, ui_->disk0oldnewlabel, ui_->disk0caplabel, ui_->disk0label,
             ui_->disk0picmodefield, ui_->disk0cappicture, ui_->rebuild0to1button, ui_->cleardisk0button, "disk_1"},
            {ui_->disk1modelfield, ui_->disk1serialfield, ui_->disk1sizefield, ui_->disk1modefield,
             ui_->rebuilddisk1field, ui_->disk1oldnewlabel, ui_->disk1caplabel, ui_->disk1label,
             ui_->disk1picmodefield, ui_->disk1cappicture, ui_->rebuild1to0button, ui_->cleardisk1button, "disk_2"}};

        for (int d = 0; d < 2; ++d) {
            const ov::ovdisk& disk = chip.disks[d];
            const ov::ovdisk& other = chip.disks[1 - d];
            const disk_widgets& w = widgets[d];
            // The other disk cannot be judged: nothing is said or offered because of it.
            const bool partner_unknown = chip.partner_unknown(d == 1);
            if (unknown_disk(disk)) {
                // Shown as there but silent: nothing about it is known, nothing is offered for it.
                ui_->showdiskguibutton->setEnabled(true);
                if (disk.present) {
                    w.model->setText(ov::stringtonsstring(disk.model));
                    w.serial->setText(ov::stringtonsstring(disk.serial));
                    w.size->setText(physical_size_text(disk.capacity));
                }
                const QString silent = text_of("disk_silent");
                w.mode->setText(silent);
                w.rebuildfield->setText(silent);
                if (!chip.raid_configured) {
                    w.picture->show();
                    w.label->setText(text_of(w.caption));
                    w.picmode->setText(silent);
                }
                continue;
            }
            if (!disk.present)
                continue;
            ui_->showdiskguibutton->setEnabled(true);
            w.model->setText(ov::stringtonsstring(disk.model));
            w.serial->setText(ov::stringtonsstring(disk.serial));
            w.size->setText(physical_size_text(disk.capacity));
            QString t = mode_text(disk.raid_mode);
            w.rebuildfield->setText(t);
            // The target must hold the whole set and, beyond it, its own record; a partial
            // copy is never a source.
            if (disk.raid_mode == ov::mode_raid1 && other.present && !partner_unknown && !disk.incomplete_copy &&
                !chip.polling && !chip.raid_configured && other.capacity >= 16 &&
                disk.record_capacity <= other.capacity - 16)
                set_enabled(w.rebuild, true);
            if (disk.partner_mismatch)
                t += text_of("broken");
            if (disk.incomplete_copy)
                t += text_of("incomplete_copy", ov::stringtonsstring(disk.copy_source_serial));
            else if (disk.raid_mode == ov::mode_raid1 && !chip.raid_configured && !partner_unknown)
                t += text_of("degrade");
            if (disk.raid1_role == 1)
                w.oldnew->setText(text_of("old"));
            else if (disk.raid1_role == 2)
                w.oldnew->setText(text_of("new"));
            else if (disk.incomplete_copy)
                // The marker's room holds the whole warning; the mode text beside the picture does not.
                w.oldnew->setText(text_of("incomplete_copy_marker", ov::stringtonsstring(disk.copy_source_serial)));
            if (member_mode(disk.raid_mode) && !chip.raid_configured) {
                set_enabled(w.clear, true);
                w.clear->show();
            }
            if (chip.raid_configured && chip.rebuilding)
                t += disk.rebuild_flag ? text_of("rebuild_source") : text_of("rebuild_target");
            w.mode->setText(t);
            w.mode->setToolTip(t);
            w.picmode->setToolTip(t);
            if (!chip.raid_configured) {
                w.cap->setText(capacity_text(member_mode(disk.raid_mode) ? disk.record_capacity : disk.capacity));
                w.picture->show();
                w.label->setText(text_of(w.caption));
                if (disk.raid_mode != 0)
                    w.picmode->setText(disk.incomplete_copy ? mode_text(disk.raid_mode) : t);
            }
        }
        const bool writable = pair_writable(chip);
        if (chip.raid_configured) {
            if (writable) {
                enable_confirm();
                set_enabled(ui_->clearconfigbutton, true);
            }
            ui_->disk0caplabel->setText(capacity_text(chip.raid_capacity));
            ui_->disk1caplabel->clear();
            ui_->disk0label->clear();
            ui_->disk1label->clear();
            ui_->disk0cappicture->show();
            ui_->disk1cappicture->hide();
            ui_->raidmodelabel->setText(mode_text(chip.raid_mode) +
                                        (chip.rebuilding ? text_of("rebuilding") : QString()));
        }
        if (writable && !chip.polling)
            enable_confirm();
        // A lone half is only a lone half when its partner port is truly empty and it
        // holds a whole set.
        const auto lone_half = [&](bool port) {
            const ov::ovdisk& disk = chip.disks[port];
            return disk.present && disk.degrade_needed && !disk.incomplete_copy && !chip.partner_unknown(port);
        };
        if (lone_half(false) || lone_half(true))
            alert(text_of("attention"), text_of("raid1_degrade_mode"), s_ok);
        if (writable && !chip.raid_configured &&
            ((d0.raid_mode >= 1 && d0.raid_mode <= 4) || (d1.raid_mode >= 1 && d1.raid_mode <= 4)))
            alert(text_of("attention"), text_of("raid_info_conflict"), s_ok);
        if (!chip.raid_configured && d0.present && d1.present &&
            (d0.raid_mode == ov::mode_raid1 || d1.raid_mode == ov::mode_raid1))
            select_tab(1);
        if (chip.polling) {
            chip.start_polling();
            select_tab(1);
            const QIcon mark(QStringLiteral(":/images/yellow.JPG"));
            (d0.rebuild_flag ? ui_->rebuild0to1button : ui_->rebuild1to0button)->setIcon(mark);
        }
        ui_->tree->show();
        mainview_->update();
    });
}

// ---- tabs and pages ---------------------------------------------------------------------------------

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
    if (working_ || !tabdelegate_->shouldSelectTabViewItem(identifier)) {
        tab_guard_active_ = false;
        ui_->tabview->setCurrentIndex(last_tab_);
        tab_guard_active_ = true;
        return;
    }
    last_tab_ = index;
}

void controller::set_page_images(bool main_page)
{
    // The image is the button's face: its icon part stays whole, the rest stretches
    // under the text.
    const auto face = [](QToolButton* button, const char* image) {
        button->setProperty("image", image);
        button->setStyleSheet(QStringLiteral("QToolButton { border-image: url(:/images/%1) 0 6 0 44 stretch stretch;"
                                             " border-width: 0px 6px 0px 44px; padding: 0px 4px; }")
                                  .arg(QLatin1String(image)));
    };
    face(ui_->showdiskguibutton, main_page ? "SysInfo_normal.png" : "SysInfo_click.png");
    face(ui_->mainguibutton, main_page ? "RaidST_click.png" : "RaidST_normal.png");
    // The page on view is also told apart by its checked state, not by the picture alone.
    ui_->mainguibutton->setChecked(main_page);
    ui_->showdiskguibutton->setChecked(!main_page);
}

void controller::switchguimain()
{
    set_page_images(true);
    ui_->guitab->setCurrentIndex(0);
}

void controller::switchguishowdisk()
{
    set_page_images(false);
    ui_->guitab->setCurrentIndex(1);
}

// ---- controller list and selection ---------------------------------------------------------------

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
        std::string text = chip.get_raid_name() + " ";
        if (chip.identity.is_firewire)
            text += " (GUID: " + ov::inttohexstring(static_cast<int64_t>(chip.identity.guid), 0) + ")";
        else
            text += " (S/N: " + chip.identity.usb_serial + ")";
        box->addItem(ov::stringtonsstring(text), index);
    }
    // Nothing is selected by filling; the current controller keeps showing as chosen.
    int shown = -1;
    const int current = j.get_controller_num(j.current);
    for (int row = 0; row < box->count(); ++row)
        if (box->itemData(row).toInt() == current)
            shown = row;
    box->setCurrentIndex(shown);
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
    if (candidate == j.current)
        return;
    // The old chip's monitors find their chip through the current controller: they must
    // have ended before it changes.
    j.stop_monitors(j.get_controller_num(j.current));
    j.current = candidate;
    ui_->guitab->setCurrentIndex(0);
    switchguimain();
    const int now = j.get_controller_num(j.current);
    if (now != -1)
        j.chips[static_cast<size_t>(now)].select_chip();
    update_raid_information();
}

// ---- tree --------------------------------------------------------------------------------------------

void controller::refreshtree()
{
    on_ui([&] {
        ui_->tree->setModel(nullptr);
        treemodel_->reload();
        ui_->tree->setModel(treemodel_);
    });
}

void controller::expandtree()
{
    on_ui([&] { ui_->tree->expandAll(); });
}

// ---- progress ------------------------------------------------------------------------------------------

void controller::startprogressbar()
{
    on_ui([&] {
        ui_->levelindicator->show();
        ui_->levelindicator->setEnabled(true);
        ui_->levelindicator->setValue(0);
    });
}

void controller::showrebuildbuttons()
{
    on_ui([&] {
        ui_->levelindicator->show();
        ui_->rebuildlabel->show();
        ui_->percentagefield->show();
    });
}

void controller::stopprogressbar()
{
    on_ui([&] {
        ui_->levelindicator->hide();
        ui_->levelindicator->setEnabled(false);
    });
}

void controller::updatepoll(uint64_t total, uint64_t currlba, bool final)
{
    // A total of 0 measures nothing.
    if (total == 0)
        return;
    const uint64_t product = currlba * 100;
    if (product / total > 200)
        return;
    double percent = static_cast<double>(product) / static_cast<double>(total);
    if (percent >= 99.0 && !final)
        percent = 99.0;
    on_ui([&] {
        // Tenths of a percent, so the fill moves with the decimal shown; a final value above
        // 100 % fills the bar and shows its number in the text.
        ui_->levelindicator->setMaximum(1000);
        ui_->levelindicator->setValue(std::min(1000, static_cast<int>(percent * 10.0 + 0.5)));
        ui_->levelindicator->setProperty("percent", percent);
        ui_->percentagefield->setText(QString::asprintf("%3.1f", percent) + QStringLiteral("%"));
        ui_->levelindicator->setAccessibleDescription(ui_->percentagefield->text());
    });
}

// ---- commands ------------------------------------------------------------------------------------------

bool controller::confirmed()
{
    return alert(s_warning, text_of("all_data_lost"), s_ok, s_cancel) == 1;
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
    if (index >= 0 && confirmed()) {
        cleargui();
        disablegui(false);
        const int row = selected_row();
        const int mode = row + 1 < 3 ? row + 1 : row + 2;
        // The command holds the handling lock: the chip stays at its index meanwhile.
        if (!j.build_raid(index, mode)) {
            alert(s_error, with_failure(text_of("raid_create_error"), j.chips[static_cast<size_t>(index)].last_write),
                  s_ok);
            refresh();
        }
    }
    end_command();
}

void controller::clearconfiguration()
{
    if (!begin_command())
        return;
    const int index = j.get_controller_num(j.current);
    if (index < 0) {
        end_command();
        return;
    }
    // Deleting under a running rebuild stops it: asked for explicitly, and No by default.
    const bool asked = rebuild_running(j.chips[static_cast<size_t>(index)])
                           ? alert(s_warning, text_of("delete_stops_rebuild"), s_ok, s_cancel, true) == 1
                           : confirmed();
    if (asked) {
        cleargui();
        if (!j.clear_raid(index)) {
            alert(s_error, with_failure(text_of("raid_delete_error"), j.chips[static_cast<size_t>(index)].last_write),
                  s_ok);
            refresh();
        }
    }
    end_command();
}

void controller::cleardisk(bool port)
{
    if (j.chips.empty() || !begin_command())
        return;
    if (confirmed()) {
        ov::ovchip* chip = j.current_chip();
        if (chip && chip->disks[port].present && !chip->clear_disk(port)) {
            alert(s_error, with_failure(text_of("raid_info_delete_error"), chip->last_write), s_ok);
            // The clear stopped the chip's monitors; without a rescan disk swaps go unseen.
            refresh();
        }
    }
    end_command();
}

void controller::radio_changed()
{
    if (j.chips.empty())
        return;
    if (selected_row() == 3) {
        set_enabled(ui_->confirmbutton, false);
        return;
    }
    const ov::ovchip* chip = j.current_chip();
    if (chip && pair_writable(*chip) && !chip->polling)
        enable_confirm();
}

void controller::warmboot()
{
    if (restart_pending_ || !j.current_chip() || !begin_command())
        return;
    ov::ovchip* chip = j.current_chip();
    if (rebuild_running(*chip) && alert(s_warning, text_of("restart_stops_rebuild"), s_ok, s_cancel, true) != 1) {
        end_command();
        return;
    }
    // Closed from the click until the restarted bridge is back.
    restart_pending_ = true;
    update_restart_control();
    disablegui(false);
    if (!j.warm_boot()) {
        // No restart, so no return to wait for; the engine has queued a rescan itself.
        restart_pending_ = false;
        update_restart_control();
        alert(s_error, ov::stringtonsstring(ov::failure_text(chip->last_write)), s_ok);
    }
    end_command();
}

void controller::start_rebuild(bool source)
{
    if (!j.current_chip() || !begin_command())
        return;
    ov::ovchip* chip = j.current_chip();
    const ov::ovdisk& from = chip->disks[source];
    const ov::ovdisk& onto = chip->disks[!source];
    // Copying the returning disk over the member that stayed in the set loses the newer data:
    // a question of its own, and No by default.
    const bool older_over_current = from.raid1_role == 2 && onto.raid1_role == 1;
    const bool asked =
        older_over_current
            ? alert(s_warning,
                    text_of("rebuild_from_older", QString::number(source ? 2 : 1), QString::number(source ? 1 : 2)),
                    s_ok, s_cancel, true) == 1
            : alert(s_warning, text_of(source ? "disk2_to_disk1" : "disk1_to_disk2"), s_ok, s_cancel) == 1;
    if (asked) {
        if (!chip->rebuild(source)) {
            // The plain refusal names its reason; any other failure is said by the engine.
            const bool named = chip->last_write.fault != ov::write_fault::none;
            alert(s_error, with_failure(text_of(named ? "rebuild_not_started" : "rebuild_error"), chip->last_write),
                  s_ok);
            refresh();
        }
    }
    end_command();
}

// The window controller: owns the window, shows the current controller's chip, runs
// the user's commands and receives the engine's requests from every thread.
// controller.cpp: start-up, commands and the way out; controller_display.cpp: the requests
// that change what shows; alerts.cpp: messages and notices.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "panel.h"
#include "rebuild_rate.h"
#include "request_queue.h"
#include "requests.h"

class QButtonGroup;
class QModelIndex;
class QEvent;
class QTimer;
class QWidget;
class ovview;
class panel_binder;
class tabviewdel;
class treemodel;
namespace Ui {
class controllerform;
}

class controller : public QObject, public ov::window_requests {
    Q_OBJECT
public:
    explicit controller(QObject* parent = nullptr);
    ~controller() override;

    // Start-up, in this order.
    void awakeFromNib();
    // start_notification false leaves the device notification thread to the caller (tests).
    void applicationDidFinishLaunching(bool start_notification = true);
    bool check_OS_version() const;

    // Requests from the engine; any thread.
    void show_error_and_exit(const std::string& text) override;
    void cleargui() override;
    void update_raid_information() override;
    void clear_controller_list() override;
    void update_controller_list() override;
    void select_first_controller() override;
    void disablegui(bool rebuild_only) override;
    void startworking() override;
    void stopworking() override;
    void refreshtree() override;
    void expandtree() override;
    void refresh() override;
    void startprogressbar() override;
    void stopprogressbar() override;
    void showrebuildbuttons() override;
    void updatepoll(uint64_t total, uint64_t currlba, bool final) override;
    void show_message(const std::string& text) override;
    void show_hot_swap_message() override;
    void notice(const std::string& text) override;

    // Actions of the window (UI thread).
    void confirm();
    void clearconfiguration();
    void cleardisk0() { cleardisk(false); }
    void cleardisk1() { cleardisk(true); }
    void radio_changed();
    void warmboot();
    void rebuild0to1() { start_rebuild(false); }
    void rebuild1to0() { start_rebuild(true); }
    void switchguimain();
    void switchguishowdisk();
    void comboBoxSelectionDidChange(int index);
    void exitprogram();
    void minimizewindow();

    QWidget* mainwindow() const { return mainwindow_; }
    ovview* mainview() const { return mainview_; }
    Ui::controllerform* form() const { return ui_.get(); }
    // Selects a tab of tabview through its guard, as a user's choice would.
    bool select_tab(int identifier);
    // The row of the radio group that is selected (always one).
    int selected_row() const;
    bool working() const;

    // Alerts: results 1 (first button), 0 (second), -2 (could not be shown). The first
    // button is the default unless second_is_default (a question whose safe answer is No).
    using alert_handler = std::function<int(const QString& title, const QString& message, const QString& first,
                                            const QString& second)>;
    using alert_handler_with_default = std::function<int(const QString& title, const QString& message,
                                                         const QString& first, const QString& second,
                                                         bool second_is_default)>;
    static void set_alert_handler(alert_handler handler);
    static void set_alert_handler(alert_handler_with_default handler);
    static void set_alert_handler(std::nullptr_t);
    using exit_handler = std::function<void(int status)>;
    static void set_exit_handler(exit_handler handler);
    // After the event loop: stops and joins the engine's threads (leaving first if nothing
    // did) and gives the status the program leaves with.
    int finish(int status);
    bool has_left() const { return left_; }
    int alert(const QString& title, const QString& message, const QString& first, const QString& second = QString(),
              bool second_is_default = false);

    // The one way out of the program: stops every monitor, lets a running device handling
    // finish (both bounded), hides the window and ends the event loop; finish() does the rest.
    void end_program(int status);
    // Whether the restart control waits for its bridge to come back.
    bool restart_pending() const { return restart_pending_; }

    QString s_ok, s_cancel, s_warning, s_attention, s_error;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void leave(int status, bool caller_holds_handling);
    void update_restart_control();
    // What the blank panel says: a restart under way, or no enclosure at all.
    void update_blank();
    void clear_notice();
    // Runs f on the window's thread; a requester on another thread waits until it ran.
    void on_ui(const std::function<void()>& f) { requests_.run(f); }
    void cleardisk(bool port);
    void start_rebuild(bool source);
    // Asks the question, when there is one; true to go on.
    bool agreed(const ov::question& question);
    // Says why a command did not complete; the panel is then scanned again.
    void failed(ov::command command, const ov::write_report& report);
    bool begin_command();
    void end_command();
    ov::panel_options panel_options() const;
    void fill_controller_list();
    void on_tab_changed(int index);
    // A node of the tree was chosen: its enclosure becomes the current controller.
    void tree_chosen(const QModelIndex& index);

    std::unique_ptr<Ui::controllerform> ui_;
    std::unique_ptr<panel_binder> panel_;
    request_queue requests_{this};
    QWidget* mainwindow_ = nullptr;
    ovview* mainview_ = nullptr;
    tabviewdel* tabdelegate_ = nullptr;
    treemodel* treemodel_ = nullptr;
    QButtonGroup* radio_group_ = nullptr;
    bool in_command_ = false;
    bool tab_guard_active_ = false;
    bool restart_pending_ = false;
    // The last panel was drawn over an empty chip list.
    bool no_enclosure_ = false;
    bool leaving_ = false;
    // Set once the program took its way out: the event loop is ending and main finishes.
    bool left_ = false;
    int exit_status_ = 0;
    // The way out was taken during a command: the event loop ends once the command has.
    bool exit_deferred_ = false;
    // The thread of the device handling between its startworking and stopworking.
    std::atomic<std::thread::id> handling_thread_{};
    QTimer* notice_timer_ = nullptr;
    int last_tab_ = 0;
    // The readings of the followed rebuild; used on the window's thread only.
    ov::rebuild_rate rate_;
};

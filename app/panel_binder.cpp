#include "panel_binder.h"

#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <optional>

#include "functions.h"
#include "pictures.h"
#include "ui_controller.h"

namespace {

struct disk_widgets {
    QLabel *model, *serial, *size, *mode, *rebuild_mode, *marker, *picture, *caption, *capacity, *picture_mode,
        *warnings;
    QPushButton *rebuild, *clear;
};

disk_widgets widgets_of(Ui::controllerform& ui, int port)
{
    if (port == 0)
        return {ui.disk0modelfield, ui.disk0serialfield, ui.disk0sizefield,   ui.disk0modefield,
                ui.rebuilddisk0field, ui.disk0oldnewlabel, ui.disk0cappicture, ui.disk0label,
                ui.disk0caplabel,   ui.disk0picmodefield, ui.disk0warningsfield, ui.rebuild0to1button,
                ui.cleardisk0button};
    return {ui.disk1modelfield,   ui.disk1serialfield, ui.disk1sizefield,   ui.disk1modefield,
            ui.rebuilddisk1field, ui.disk1oldnewlabel, ui.disk1cappicture, ui.disk1label,
            ui.disk1caplabel,     ui.disk1picmodefield, ui.disk1warningsfield, ui.rebuild1to0button,
            ui.cleardisk1button};
}

}  // namespace

QString shown(const ov::panel_text& text)
{
    return ov::stringtonsstring(ov::render(text));
}

QString shown_key(const char* key)
{
    return shown({ov::text_piece{key, {}, false}});
}

panel_binder::panel_binder(Ui::controllerform& ui) : ui_(ui)
{
    // What the panel hides keeps its room, so nothing else moves when it comes and goes.
    QWidget* coming_and_going[] = {ui.tree,           ui.disk0cappicture, ui.disk1cappicture, ui.cleardisk0button,
                                   ui.cleardisk1button, ui.levelindicator, ui.rebuildlabel,     ui.percentagefield,
                                   ui.workingindicator, ui.rebuildratelabel};
    for (QWidget* w : coming_and_going) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    // An action's own tooltip is what it says while open; closed, it says why.
    for (QWidget* action : {static_cast<QWidget*>(ui.confirmbutton), static_cast<QWidget*>(ui.clearconfigbutton),
                            static_cast<QWidget*>(ui.cleardisk0button), static_cast<QWidget*>(ui.cleardisk1button),
                            static_cast<QWidget*>(ui.rebuild0to1button), static_cast<QWidget*>(ui.rebuild1to0button),
                            static_cast<QWidget*>(ui.warmbootbutton)})
        action->setProperty("open_tip", action->toolTip());
    ui.panelstatelabel->hide();
    ui.diskpagestatelabel->hide();
    const QPixmap drive = disk_picture(56);
    ui.disk0cappicture->setPixmap(drive);
    ui.disk1cappicture->setPixmap(drive);
    // Room for the longest rate text there can be, so the bar keeps its length while the
    // figures change.
    QLabel* rate = ui.rebuildratelabel;
    rate->ensurePolished();
    int room = 0;
    for (const QString& longest :
         {shown_key("rebuild_rate_measuring"),
          shown({ov::text_piece{"rebuild_rate", {ov::speed_text(999.9e6), ov::duration_text(8640000)}, false}})})
        room = std::max(room, rate->fontMetrics().horizontalAdvance(longest));
    rate->setMinimumWidth(room + 2);
}

void panel_binder::clear()
{
    ui_.tree->hide();
    ui_.raidmodelabel->clear();
    for (int port = 0; port < 2; ++port) {
        const disk_widgets w = widgets_of(ui_, port);
        for (QLabel* field : {w.model, w.serial, w.size, w.mode, w.rebuild_mode, w.marker, w.caption, w.capacity,
                              w.picture_mode, w.warnings})
            field->clear();
        w.picture->hide();
        w.warnings->hide();
        w.clear->hide();
        w.rebuild->setDown(false);
    }
    mark_rebuild(-1);
    for (QWidget* w : {static_cast<QWidget*>(ui_.levelindicator), static_cast<QWidget*>(ui_.rebuildlabel),
                       static_cast<QWidget*>(ui_.percentagefield), static_cast<QWidget*>(ui_.rebuildratelabel)})
        w->hide();
    ov::panel_actions closed;
    closed.restart = wanted_.restart;
    // Until a panel is shown, whatever closed the actions is something under way.
    const ov::panel_text busy{ov::text_piece{"refuse_busy", {}, false}};
    const ov::panel_text restart = reasons_.restart;
    reasons_ = {busy, busy, restart, {busy, busy}, {busy, busy}};
    chip_shown_ = false;
    want(closed);
}

void panel_binder::show(const ov::panel_state& panel)
{
    for (int port = 0; port < 2; ++port) {
        const ov::disk_view& v = panel.disks[port];
        const disk_widgets w = widgets_of(ui_, port);
        w.model->setText(shown(v.model));
        w.serial->setText(shown(v.serial));
        w.size->setText(shown(v.size));
        w.size->setToolTip(shown(v.size_detail));
        w.capacity->setToolTip(shown(v.capacity_detail));
        const QString mode = shown(v.mode);
        w.mode->setText(mode);
        w.mode->setToolTip(mode);
        w.picture_mode->setToolTip(mode);
        w.rebuild_mode->setText(shown(v.rebuild_mode));
        w.marker->setText(shown(v.marker));
        w.picture->setVisible(v.picture);
        w.caption->setText(shown(v.caption));
        w.capacity->setText(shown(v.capacity));
        w.picture_mode->setText(shown(v.picture_mode));
        w.clear->setVisible(panel.actions.clear[port]);
    }
    ui_.raidmodelabel->setText(shown(panel.set_mode));
    ui_.tree->setVisible(panel.chip);
    chip_shown_ = panel.chip;
    const ov::panel_text restart = reasons_.restart;
    reasons_ = panel.closed;
    // The restart control's reason is the window's own (a restart under way).
    if (panel.chip)
        reasons_.restart = restart;
    apply();
}

void panel_binder::explain_restart(const ov::panel_text& reason)
{
    reasons_.restart = reason;
    apply();
}

void panel_binder::set_blank(blank what)
{
    blank_ = what;
    apply();
}

void panel_binder::want(const ov::panel_actions& actions)
{
    wanted_ = actions;
    apply();
}

void panel_binder::set_working(bool working)
{
    working_ = working;
    apply();
}

void panel_binder::apply()
{
    const ov::panel_actions& a = wanted_;
    const ov::action_reasons& r = reasons_;
    const ov::panel_text looking{ov::text_piece{"working", {}, false}};
    const ov::panel_text busy{ov::text_piece{"refuse_busy", {}, false}};
    const struct {
        QWidget* widget;
        bool open;
        const ov::panel_text& why;
    } actions[] = {{ui_.confirmbutton, a.create, r.create},          {ui_.clearconfigbutton, a.remove, r.remove},
                   {ui_.cleardisk0button, a.clear[0], r.clear[0]},    {ui_.cleardisk1button, a.clear[1], r.clear[1]},
                   {ui_.rebuild0to1button, a.rebuild[0], r.rebuild[0]}, {ui_.rebuild1to0button, a.rebuild[1], r.rebuild[1]},
                   {ui_.warmbootbutton, a.restart, r.restart}};
    for (const auto& action : actions) {
        const bool open = action.open && !working_;
        action.widget->setEnabled(open);
        QString tip = open ? action.widget->property("open_tip").toString()
                           : shown(working_ ? looking : action.why.empty() ? busy : action.why);
        // A reason is a clause the command line puts after a colon; alone it is a sentence.
        if (!open && !tip.isEmpty())
            tip[0] = tip[0].toUpper();
        action.widget->setToolTip(tip);
        action.widget->setAccessibleDescription(tip);
    }
    for (QWidget* input : {static_cast<QWidget*>(ui_.controllerselectbox), static_cast<QWidget*>(ui_.refresh_button)})
        input->setEnabled(!working_);
    // With no chip on view the rows and tabs have nothing to act on.
    for (QWidget* input : {ui_.raidconfigradiobutton, static_cast<QWidget*>(ui_.tabview->tabBar())})
        input->setEnabled(!working_ && chip_shown_);

    const char* says = nullptr;
    if (!chip_shown_) {
        if (blank_ == blank::restarting)
            says = "restarting";
        else if (working_ || blank_ == blank::looking)
            says = "working";
        else if (blank_ == blank::no_enclosure)
            says = "empty_state";
    }
    for (QLabel* label : {ui_.panelstatelabel, ui_.diskpagestatelabel}) {
        label->setVisible(says != nullptr);
        label->setText(says ? shown_key(says) : QString());
        label->setAccessibleName(label->text());
    }
}

void panel_binder::mark_rebuild(int port)
{
    const QIcon mark(QStringLiteral(":/images/yellow.JPG"));
    ui_.rebuild0to1button->setIcon(port == 0 ? mark : QIcon());
    ui_.rebuild1to0button->setIcon(port == 1 ? mark : QIcon());
}

void panel_binder::start_progress()
{
    ui_.levelindicator->show();
    ui_.levelindicator->setEnabled(true);
    ui_.levelindicator->setValue(0);
    set_rate(ov::rebuild_rate());
    ui_.rebuildratelabel->show();
}

void panel_binder::show_progress_texts()
{
    ui_.levelindicator->show();
    ui_.rebuildlabel->show();
    ui_.percentagefield->show();
}

void panel_binder::stop_progress()
{
    ui_.levelindicator->hide();
    ui_.levelindicator->setEnabled(false);
    ui_.rebuildratelabel->hide();
}

void panel_binder::set_progress(double percent)
{
    // Tenths of a percent, so the fill moves with the decimal shown; a final value above
    // 100 % fills the bar and shows its number in the text.
    ui_.levelindicator->setMaximum(1000);
    ui_.levelindicator->setValue(std::min(1000, static_cast<int>(percent * 10.0 + 0.5)));
    ui_.levelindicator->setProperty("percent", percent);
    ui_.percentagefield->setText(QString::fromStdString(ov::percent_text(percent)));
    ui_.levelindicator->setAccessibleDescription(ui_.percentagefield->text());
}

void panel_binder::set_rate(const ov::rebuild_rate& rate)
{
    const std::optional<double> speed = rate.bytes_per_second();
    const std::optional<double> left = rate.seconds_left();
    ov::panel_text text;
    if (!speed)
        text = {ov::text_piece{"rebuild_rate_measuring", {}, false}};
    else if (!left)   // a copy standing still: its speed, but no end to name
        text = {ov::text_piece{ov::speed_text(*speed), {}, true}};
    else
        text = {ov::text_piece{"rebuild_rate", {ov::speed_text(*speed), ov::duration_text(*left)}, false}};
    ui_.rebuildratelabel->setText(shown(text));
}

void panel_binder::show_warnings(int port, const std::vector<ov::record_warning>& warnings)
{
    QStringList lines;
    for (const ov::record_warning w : warnings)
        lines << shown_key(ov::warning_key(w));
    QLabel* field = widgets_of(ui_, port).warnings;
    field->setText(lines.join(QLatin1Char('\n')));
    field->setVisible(!lines.isEmpty());
}

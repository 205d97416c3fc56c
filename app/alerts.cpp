// Messages the user answers (alerts) and the notice line below the tree, which holds up
// nobody.
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <algorithm>

#include "clock.h"
#include "controller.h"
#include "functions.h"
#include "panel_binder.h"
#include "ui_controller.h"

namespace {

controller::alert_handler_with_default alert_override;

// A notice stays this long unless a scan clears it first.
constexpr int notice_ms = 30000;

void show_notice(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setProperty("active", !text.isEmpty());
    label->style()->polish(label);
}

}  // namespace

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

int controller::alert(const QString& title, const QString& message, const QString& first, const QString& second,
                      bool second_is_default)
{
    if (second.isEmpty())
        second_is_default = false;
    // On the way out nobody is left to answer: a message would hold the way out, and every
    // signal after it, for good. Unanswered counts as no.
    if (leaving_)
        return -2;
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

void controller::show_message(const std::string& text)
{
    on_ui([&] { alert(s_attention, ov::stringtonsstring(text), s_ok); });
}

void controller::show_hot_swap_message()
{
    on_ui([&] { alert(s_attention, shown_key("hot_swap"), s_ok); });
}

void controller::notice(const std::string& text)
{
    const QString shown_text = ov::stringtonsstring(text);
    on_ui([&] {
        show_notice(ui_->noticelabel, shown_text);
        notice_timer_->start(std::max(1, static_cast<int>(notice_ms / ov::time_scale())));
    });
}

void controller::clear_notice()
{
    notice_timer_->stop();
    show_notice(ui_->noticelabel, QString());
}

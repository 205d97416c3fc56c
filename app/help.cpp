#include "help.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include "controller.h"
#include "ui_controller.h"
#include "version.h"

namespace ov {

namespace {

QString escaped(const char* id)
{
    return qtTrId(id).toHtmlEscaped();
}

QString help_page()
{
    // The state words are the window's own, so the page explains exactly what the user sees.
    static const std::pair<const char*, const char*> states[] = {
        {"state_healthy", "help_healthy"},           {"state_degraded", "help_degraded"},
        {"state_out_of_step", "help_out_of_step"},   {"state_rebuilding", "help_rebuilding"},
        {"state_broken", "help_broken"},             {"state_not_configured", "help_not_configured"},
        {"state_disk_silent", "help_disk_silent"},
    };
    QString page = QStringLiteral("<h3>%1</h3><p>%2</p><dl>").arg(escaped("help_states_heading"),
                                                               escaped("help_states_intro"));
    for (const auto& [state, meaning] : states)
        page += QStringLiteral("<dt><b>%1</b></dt><dd style=\"margin-bottom: 6px\">%2</dd>").arg(escaped(state), escaped(meaning));
    page += QStringLiteral("</dl><h3>%1</h3><ol>").arg(escaped("help_failure_heading"));
    const QString current = qtTrId("help_failure_source").arg(qtTrId("old"));
    const QString stale = qtTrId("help_failure_never").arg(qtTrId("new"));
    for (const QString& step : {qtTrId("help_failure_which"), qtTrId("help_failure_replace"), current, stale,
                                qtTrId("help_failure_wait")})
        page += QStringLiteral("<li>%1</li>").arg(step.toHtmlEscaped());
    page += QStringLiteral("</ol><h3>%1</h3><table cellspacing=\"4\">"
                           "<tr><td><b>F1</b></td><td>%2</td></tr><tr><td><b>F5</b></td><td>%3</td></tr></table>")
                .arg(escaped("help_keys_heading"), escaped("help_key_f1"), escaped("help_key_f5"));
    return page;
}

QDialogButtonBox* close_buttons(QDialog* dialog, const char* name)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    buttons->setObjectName(QString::fromLatin1(name));
    QPushButton* close = buttons->button(QDialogButtonBox::Close);
    close->setText(qtTrId("help_close"));
    close->setAccessibleName(qtTrId("help_close"));
    close->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    return buttons;
}

// One dialog of each kind per window: asking again brings the open one to the front.
template <typename Build>
void show_once(QWidget* window, const char* name, Build build)
{
    auto* dialog = window->findChild<QDialog*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    if (!dialog) {
        dialog = new QDialog(window);
        dialog->setObjectName(QString::fromLatin1(name));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        build(dialog);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

// Modeless: the page can stay open beside the window while the user follows it.
void show_help(QWidget* window)
{
    show_once(window, "helpdialog", [](QDialog* dialog) {
        dialog->setWindowTitle(qtTrId("help_title"));
        auto* layout = new QVBoxLayout(dialog);
        auto* page = new QTextBrowser(dialog);
        page->setObjectName(QStringLiteral("helptext"));
        page->setAccessibleName(qtTrId("help_title"));
        page->setHtml(help_page());
        layout->addWidget(page);
        layout->addWidget(close_buttons(dialog, "helpbuttons"));
        dialog->resize(600, 620);
    });
}

void show_about(QWidget* window)
{
    show_once(window, "aboutbox", [](QDialog* dialog) {
        dialog->setWindowTitle(qtTrId("about_title"));
        // Window-modal, not blocking: the caller returns at once.
        dialog->setWindowModality(Qt::WindowModal);
        auto* layout = new QVBoxLayout(dialog);
        auto* row = new QHBoxLayout;
        auto* icon = new QLabel(dialog);
        icon->setObjectName(QStringLiteral("abouticon"));
        icon->setPixmap(QIcon(QStringLiteral(":/images/ovraid.png")).pixmap(64, 64));
        icon->setAlignment(Qt::AlignTop);
        row->addWidget(icon);
        auto* text = new QLabel(dialog);
        text->setObjectName(QStringLiteral("abouttext"));
        text->setTextFormat(Qt::RichText);
        text->setWordWrap(true);
        text->setText(QStringLiteral("<p style=\"font-size:14pt\"><b>ovraid</b></p><p>%1</p><p>%2</p><p>%3</p>")
                          .arg(qtTrId("about_version").arg(QStringLiteral(OVRAID_VERSION)).toHtmlEscaped(),
                               escaped("about_what"),
                               qtTrId("about_qt").arg(QString::fromLatin1(qVersion())).toHtmlEscaped()));
        text->setAccessibleName(qtTrId("about_title"));
        text->setMinimumWidth(320);
        row->addWidget(text, 1);
        layout->addLayout(row);
        layout->addWidget(close_buttons(dialog, "aboutbuttons"));
    });
}

}  // namespace

void install_help(controller& window)
{
    QWidget* top = window.mainwindow();
    Ui::controllerform* form = window.form();

    // One action per entry, shared by the menu and the window: F1 then has one owner.
    auto* help = new QAction(qtTrId("help_action"), top);
    help->setObjectName(QStringLiteral("helpaction"));
    help->setShortcut(QKeySequence(Qt::Key_F1));
    help->setShortcutContext(Qt::WindowShortcut);
    top->addAction(help);
    QObject::connect(help, &QAction::triggered, top, [top] { show_help(top); });
    auto* about = new QAction(qtTrId("about_action"), top);
    about->setObjectName(QStringLiteral("aboutaction"));
    QObject::connect(about, &QAction::triggered, top, [top] { show_about(top); });

    auto* button = new QToolButton(form->minimizebutton->parentWidget());
    button->setObjectName(QStringLiteral("helpbutton"));
    button->setText(QStringLiteral("?"));
    button->setToolTip(qtTrId("help_button_tooltip"));
    button->setAccessibleName(qtTrId("help_button"));
    button->setFixedSize(form->minimizebutton->minimumSize());
    button->setPopupMode(QToolButton::InstantPopup);
    // The title bar's look (the style sheet names its two buttons).
    button->setStyleSheet(QStringLiteral(
        "QToolButton { color: #dfe6f0; background: transparent; border: none; border-radius: 6px;"
        " font-size: 14pt; font-weight: 600; }"
        "QToolButton:hover, QToolButton:focus, QToolButton:pressed { background: rgba(255,255,255,0.15); }"
        "QToolButton::menu-indicator { image: none; width: 0; }"));
    auto* menu = new QMenu(button);
    menu->setObjectName(QStringLiteral("helpmenu"));
    menu->setAccessibleName(qtTrId("help_button"));
    menu->addAction(help);
    menu->addAction(about);
    button->setMenu(menu);
    form->titlerow->insertWidget(form->titlerow->indexOf(form->minimizebutton), button);
    // In the tab order just before the minimize button, as on screen.
    QWidget::setTabOrder(form->minimizebutton->previousInFocusChain(), button);
    QWidget::setTabOrder(button, form->minimizebutton);
}

}  // namespace ov

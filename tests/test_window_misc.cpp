// Start-up of the window: its fixed texts in every string table, the tables themselves,
// the resources, the frameless window and its background, moving, minimising, closing and
// the fatal path; and requests that other threads send.
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QXmlStreamReader>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <chrono>
#include <thread>

#include <signal.h>

#include "appsetup.h"
#include "ovview.h"
#include "window_fixture.h"

#ifndef OVRAID_TS_DIR
#error "OVRAID_TS_DIR names the directory of the .ts files"
#endif

namespace ovtest {
namespace {

// id -> translation of one Linguist file; an unfinished translation reads as empty.
std::map<QString, QString> read_ts(const QString& lang)
{
    std::map<QString, QString> out;
    QFile file(QStringLiteral(OVRAID_TS_DIR "/ovraid_%1.ts").arg(lang));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    QXmlStreamReader xml(&file);
    QString id;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("message")) {
            id = xml.attributes().value("id").toString();
        } else if (xml.name() == QLatin1String("translation") && !id.isEmpty()) {
            const bool finished = xml.attributes().value("type").isEmpty();
            const QString text = xml.readElementText();
            out[id] = finished ? text : QString();
            id.clear();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return out;
}

// A text the window description names by its id: a property of a widget, or the title of
// a tab page.
struct ui_text {
    QString widget, property, id;
    bool tab_title = false;
};

std::vector<ui_text> ui_texts()
{
    QFile file(QStringLiteral(OVRAID_TS_DIR "/../controller.ui"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    // A widget's properties come before its children: each belongs to the widget opened last.
    static const QRegularExpression item(
        R"re(<widget class="\w+" name="(\w+)"|<(property|attribute) name="(\w+)">\s*<string id="(\w+)">([^<]*)<)re");
    std::vector<ui_text> out;
    QString widget;
    for (const QRegularExpressionMatch& m : item.globalMatch(QString::fromUtf8(file.readAll()))) {
        if (!m.captured(1).isEmpty()) {
            widget = m.captured(1);
            continue;
        }
        EXPECT_EQ(m.captured(5), m.captured(4)) << "uic looks the text up: it must be the id";
        out.push_back({widget, m.captured(3), m.captured(4), m.captured(2) == QLatin1String("attribute")});
    }
    return out;
}

// Every key the engine and the panel look up (the fixed texts' ids come from the .ui).
const char* const known_keys[] = {
    "disk_1", "disk_2", "ok", "cancel", "warning", "error", "attention", "not_config", "raid_0", "raid_1", "span",
    "broken", "degrade", "rebuild_source", "rebuild_target", "rebuilding", "old", "new", "raid1_degrade_mode",
    "raid_info_conflict", "all_data_lost", "raid_create_error", "raid_delete_error", "raid_info_delete_error",
    "two_raid1_disks_for_rebuild", "disk1_to_disk2", "disk2_to_disk1", "rebuild_error", "hot_swap",
    "rebuild_finished", "error_open_device", "device", "disk_silent", "incomplete_copy", "restart_stops_rebuild",
    "delete_stops_rebuild", "rebuild_from_older", "rebuild_from_diverged", "fault_disk_changed", "fault_disk_unknown", "fault_write_failed",
    "fault_flush_failed", "fault_restored", "fault_restore_failed", "fault_restart_failed",
    "fault_plain_restart_failed", "fault_rebuild_restart_failed", "bridge_left_out", "rebuild_stalled",
    "rebuild_not_started", "incomplete_copy_marker", "fault_note_failed", "app_title", "rebuild_rate",
    "rebuild_rate_measuring", "warning_stamp", "warning_set_size", "warning_partner_text", "warning_mode",
    "warning_member", "warning_same_serial", "enclosure_unreadable"};

TEST(window_signals, a_termination_signal_takes_the_one_way_out_on_the_window_thread)
{
    // Static: the handler stays installed for the rest of the process.
    static std::atomic<int> status{-1};
    static std::atomic<bool> on_window_thread{false};
    ASSERT_TRUE(ov::route_termination_signals([](int s) {
        on_window_thread = QThread::currentThread() == QCoreApplication::instance()->thread();
        status = s;
    }));
    for (int sig : {SIGTERM, SIGHUP}) {
        status = -1;
        ASSERT_EQ(::raise(sig), 0);
        EXPECT_TRUE(eventually([] { return status.load() == 0; })) << "signal " << sig;
        EXPECT_TRUE(on_window_thread);
    }
}

TEST(window_tables, every_english_key_has_a_finished_german_text)
{
    const auto en = read_ts("en");
    const auto de = read_ts("de");
    ASSERT_FALSE(en.empty());
    for (const char* key : known_keys)
        EXPECT_TRUE(en.count(key)) << key << " missing from the English table";
    for (const auto& [id, e] : en) {
        EXPECT_FALSE(e.isEmpty()) << "English " << id.toStdString();
        const auto it = de.find(id);
        ASSERT_NE(it, de.end()) << "German lacks " << id.toStdString();
        EXPECT_FALSE(it->second.isEmpty()) << "German " << id.toStdString();
    }
    EXPECT_EQ(en.size(), de.size()) << "the German table has keys the English one lacks";
}

TEST(window_tables, the_compiled_tables_and_images_are_in_the_binary)
{
    for (const char* path : {":/i18n/ovraid_en.qm", ":/i18n/ovraid_de.qm", ":/images/RaidGUI_velda_2.png",
                             ":/images/SysInfo_normal.png", ":/images/SysInfo_click.png", ":/images/RaidST_normal.png",
                             ":/images/RaidST_click.png", ":/images/yellow.JPG"})
        EXPECT_TRUE(QFile::exists(QString::fromLatin1(path))) << path;
    EXPECT_FALSE(QImage(QStringLiteral(":/images/yellow.JPG")).isNull()) << "no JPEG reader";
}

// The fixed texts of start-up, with no table (keys), and the English and German tables.
class window_texts : public window_fixture, public ::testing::WithParamInterface<const char*> {
protected:
    window_texts() { launch_in_set_up = false; }
    QTranslator translator;
    std::map<QString, QString> table;

    void SetUp() override
    {
        window_fixture::SetUp();
        const QString lang = QString::fromLatin1(GetParam());
        if (lang != "keys") {
            table = read_ts(lang);
            ASSERT_TRUE(translator.load(QStringLiteral(":/i18n/ovraid_%1.qm").arg(lang)));
            QCoreApplication::installTranslator(&translator);
        }
        ov::set_localizer([](const std::string& key) { return qtTrId(key.c_str()).toStdString(); });
        launch();
    }
    void TearDown() override
    {
        window_fixture::TearDown();
        QCoreApplication::removeTranslator(&translator);
    }
    QString expected(const char* key) const
    {
        const auto it = table.find(QString::fromLatin1(key));
        return it == table.end() ? QString::fromLatin1(key) : it->second;
    }
};

TEST_P(window_texts, start_up_sets_every_fixed_text_from_the_table)
{
    const std::vector<ui_text> texts = ui_texts();
    EXPECT_GT(texts.size(), 40u);
    auto* tabs = find<QTabWidget>("tabview");
    for (const ui_text& t : texts) {
        QWidget* w = find(t.widget.toLatin1().constData());
        // A closed action's tooltip says why it is closed; its own text waits for it to open.
        const bool own_tip = t.property == "toolTip" && w->property("open_tip").isValid();
        const QString shown = t.tab_title ? tabs->tabText(tabs->indexOf(w))
                              : own_tip   ? w->property("open_tip").toString()
                                          : w->property(t.property.toLatin1().constData()).toString();
        EXPECT_EQ(shown, expected(t.id.toLatin1().constData())) << t.widget.toStdString() << " " << t.property.toStdString();
    }
    for (const auto& [word, key] : {std::pair{win->s_ok, "ok"}, {win->s_cancel, "cancel"}, {win->s_warning, "warning"},
                                    {win->s_error, "error"}, {win->s_attention, "attention"}})
        EXPECT_EQ(word, expected(key)) << key;
    if (QString::fromLatin1(GetParam()) == "de") {
        EXPECT_NE(expected("create_raid"), read_ts("en")["create_raid"]) << "not translated";
    }

    // The fatal path: titled with the text of "error", then status 3.
    win->show_error_and_exit("Error creating polling thread..Exiting");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, expected("error"));
    EXPECT_EQ(alerts[0].message, "Error creating polling thread..Exiting");
    EXPECT_EQ(alerts[0].first, expected("ok"));
    EXPECT_EQ(exits, std::vector<int>{3});
}

INSTANTIATE_TEST_SUITE_P(tables, window_texts, ::testing::Values("keys", "en", "de"));

using window_keys = window_fixture;

// Every key looked up while the window runs through its states exists in the tables.
TEST_F(window_keys, every_key_the_window_looks_up_is_in_the_table)
{
    const auto en = read_ts("en");
    std::mutex m;
    std::set<std::string> used;
    ov::set_localizer([&](const std::string& key) {
        std::lock_guard<std::mutex> lock(m);
        used.insert(key);
        return key;
    });
    win.reset();
    launch();
    ov::ovdisk d0 = member_disk(ov::mode_raid1, 1000016, 1000000);
    ov::ovdisk d1 = member_disk(ov::mode_raid0, 1000016, 1000000);
    d0.degrade_needed = d1.partner_mismatch = true;
    d0.raid1_role = 1;
    const int i = add_usb_chip(d0, d1);
    chip(i).raid1_pair_present = true;
    show_chip(i);
    chip(i).disks[1] = member_disk(ov::mode_span, 1000016, 1000000);
    chip(i).disks[1].raid1_role = 2;
    chip(i).raid_configured = true;
    chip(i).rebuilding = true;
    chip(i).raid_mode = ov::mode_raid1;
    chip(i).disks[0].rebuild_flag = true;
    win->update_raid_information();
    answers = {0, 0, 0};
    win->confirm();
    win->rebuild0to1();
    win->rebuild1to0();
    win->show_hot_swap_message();
    ov::j.chips.clear();
    find<QTabWidget>("tabview")->setCurrentIndex(1);
    ov::j.tree.addchipFirewire(false);
    std::lock_guard<std::mutex> lock(m);
    for (const ui_text& t : ui_texts())   // the fixed texts, looked up by uic's code
        used.insert(t.id.toStdString());
    for (const std::string& key : used)
        EXPECT_TRUE(en.count(QString::fromStdString(key))) << key;
    EXPECT_GT(used.size(), 50u);
}

using window_frame = window_fixture;

TEST_F(window_frame, the_window_is_frameless_translucent_and_in_place)
{
    QWidget* w = win->mainwindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->geometry(), QRect(100, 100, 800, 630));
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(static_cast<QWidget*>(win->mainview())->window(), w);
    EXPECT_EQ(win->mainview()->size(), QSize(800, 630));
}

// Pixels of `a` that differ from `b` by more than a little, in parts per thousand.
int differing_permille(const QImage& a, const QImage& b)
{
    int differ = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue()) +
                    std::abs(p.alpha() - q.alpha()) > 64)
                ++differ;
        }
    return static_cast<int>(1000LL * differ / (a.width() * a.height()));
}

TEST_F(window_frame, the_background_covers_the_whole_view_whatever_its_size)
{
    const QImage back = win->mainview()->background().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(back.isNull()) << "background image not loaded";

    QImage shot(win->mainview()->size(), QImage::Format_ARGB32);
    shot.fill(Qt::transparent);
    win->mainview()->render(&shot, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_NE(shot.pixelColor(400, 315).alpha(), 0);
    EXPECT_LE(differing_permille(shot, back.scaled(shot.size())), 5);

    // Another size: the image is stretched both ways, not cut or placed in a corner.
    for (const QSize size : {QSize(200, 300), QSize(1000, 160)}) {
        ovview view;
        view.awakeFromNib();
        view.resize(size);
        QImage small(size, QImage::Format_ARGB32);
        small.fill(Qt::transparent);
        view.render(&small, QPoint(), QRegion(), QWidget::RenderFlags());
        const QImage reference = back.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_LE(differing_permille(small, reference), 100) << size.width() << "x" << size.height();
    }
}

TEST_F(window_frame, close_minimise_and_dragging_the_background)
{
    QWidget* w = win->mainwindow();
    QWidget* view = win->mainview();
    const auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(view->mapFromGlobal(global)), QPointF(global),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &e);
    };
    const QPoint grip = view->mapToGlobal(QPoint(6, 320));
    send(QEvent::MouseButtonPress, grip, Qt::LeftButton);
    send(QEvent::MouseMove, grip + QPoint(40, 25), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grip + QPoint(40, 25), Qt::NoButton);
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        EXPECT_EQ(w->pos(), QPoint(140, 125)) << "the window did not follow the mouse";
    }
    const QPoint after = w->pos();
    send(QEvent::MouseMove, grip + QPoint(90, 90), Qt::NoButton);   // released: no more moving
    EXPECT_EQ(w->pos(), after);

    find<QToolButton>("minimizebutton")->click();
    EXPECT_TRUE(w->isMinimized());
    EXPECT_TRUE(exits.empty());
    find<QToolButton>("closebutton")->click();
    EXPECT_EQ(exits, std::vector<int>{0});
}

// The real message box, answered from a timer as a user would.
TEST_F(window_frame, a_real_alert_reports_the_chosen_button_and_escape_declines)
{
    controller::set_alert_handler(nullptr);
    const auto answer = [&](const QString& button, const QString& second) {
        QString seen_title, seen_text;
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [&, timer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer->stop();
            seen_title = box->windowTitle();
            seen_text = box->text();
            if (button == "escape") {
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(box, &esc);
                return;
            }
            for (QAbstractButton* b : box->buttons())
                if (b->text() == button)
                    b->click();
        });
        timer->start(5);
        const int result = win->alert("title", "message", "ok", second);
        delete timer;
        EXPECT_EQ(seen_title, "title");
        EXPECT_EQ(seen_text, "message");
        return result;
    };
    EXPECT_EQ(answer("ok", "cancel"), 1);
    EXPECT_EQ(answer("cancel", "cancel"), 0);
    EXPECT_EQ(answer("escape", "cancel"), 0) << "Escape must never confirm";
    EXPECT_EQ(answer("ok", ""), 1);
}

TEST_F(window_frame, requests_of_other_threads_are_shown_on_the_window_thread)
{
    std::atomic<int> done{0};
    std::thread t([&] {
        win->show_message("rebuild_finished");
        win->show_hot_swap_message();
        win->show_error_and_exit("error_open_device");
        ++done;
    });
    EXPECT_TRUE(eventually([&] { return done.load() == 1; }));
    t.join();
    ASSERT_EQ(alerts.size(), 3u);
    for (const alert_seen& a : alerts) {
        EXPECT_TRUE(a.on_ui_thread) << a.message.toStdString();
        EXPECT_EQ(a.first, "ok");
        EXPECT_EQ(a.second, "");
    }
    EXPECT_EQ(alerts[0].title, "attention");
    EXPECT_EQ(alerts[0].message, "rebuild_finished");
    EXPECT_EQ(alerts[1].title, "attention");
    EXPECT_EQ(alerts[1].message, "hot_swap");
    EXPECT_EQ(alerts[2].title, "error");
    EXPECT_EQ(exits, std::vector<int>{3});
}

TEST_F(window_frame, a_notice_shows_below_the_tree_until_the_next_scan_or_its_time)
{
    auto* label = find<QLabel>("noticelabel");
    EXPECT_TRUE(label->isVisible());
    EXPECT_TRUE(label->wordWrap());
    EXPECT_EQ(label->text(), "");
    // It covers nothing, whether the tree and the buttons show or not.
    for (QWidget* w : label->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w != label) {
            EXPECT_FALSE(w->geometry().intersects(label->geometry())) << w->objectName().toStdString();
        }

    // Sent from the notification thread; the newest one wins.
    std::atomic<bool> done{false};
    std::thread t([&] {
        win->notice("first");
        win->notice("bridge_left_out");
        done = true;
    });
    ASSERT_TRUE(eventually([&] { return done.load(); }));
    t.join();
    EXPECT_EQ(label->text(), "bridge_left_out");
    EXPECT_TRUE(alerts.empty()) << "a notice is no alert";

    win->startworking();   // the next scan starts afresh
    EXPECT_EQ(label->text(), "");
    win->notice("rebuild_stalled");
    win->stopworking();
    EXPECT_EQ(label->text(), "rebuild_stalled");
    // An enclosure left out because it could not be read is said at the end of the scan.
    reg.unreadable = {"/sim/a/failures:1: cannot read 'x'"};
    win->startworking();
    win->stopworking();
    reg.unreadable.clear();
    EXPECT_EQ(label->text(), "enclosure_unreadable\n/sim/a/failures:1: cannot read 'x'");
    EXPECT_TRUE(eventually([&] { return label->text().isEmpty(); }, 5s)) << "the notice never went";
}

// Every way out stops the monitors and waits for a running device handling first.
using window_exit = window_fixture;

TEST_F(window_exit, a_window_manager_close_leaves_through_the_one_way_out)
{
    const int i = rebuilding_mirror();
    lib.rebuild_statuses.push_back(scripted_library::status(1000, 250));
    show_chip(i);
    ASSERT_TRUE(chip(i).start_raid1_timer());
    // The poller reports through the window from its own thread.
    ASSERT_TRUE(eventually([&] { return text("percentagefield") == "25.0%"; }));

    // A device handling is under way; it ends a little after the close.
    handling_holder handling;
    QTimer::singleShot(30, [&] { handling.release(); });

    struct moment {
        int status;
        bool monitors_alive, handling_ended, handling_free;
    };
    std::vector<moment> seen;
    controller::set_exit_handler([&](int status) {
        const ov::ovchip& c = ov::j.chips[static_cast<size_t>(i)];
        const bool free = !held(ov::j.handling);
        seen.push_back({status, c.poller_alive || c.raid1_timer_alive, handling.released(), free});
        // On the way out a message asks nobody: it would hold the way out for good.
        const size_t shown = alerts.size();
        win->show_message("rebuild_finished");
        EXPECT_EQ(alerts.size(), shown);
    });
    QCloseEvent close;
    QCoreApplication::sendEvent(win->mainwindow(), &close);
    handling.join();

    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].status, 0);
    EXPECT_FALSE(seen[0].monitors_alive) << "a monitor still ran at the exit";
    EXPECT_TRUE(seen[0].handling_ended) << "the exit did not wait for the device handling";
    // The lock is given back: the notification thread is joined after the event loop, and a
    // handling waiting for the lock must be able to end first.
    EXPECT_TRUE(seen[0].handling_free) << "the exit kept the handling lock";
    EXPECT_FALSE(close.isAccepted());
    EXPECT_TRUE(win->mainwindow()->isVisible()) << "the window went before the process";
    EXPECT_FALSE(chip(i).polling);
    EXPECT_FALSE(chip(i).raid1_timer_run);

    // The close control takes the same way.
    find<QToolButton>("closebutton")->click();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].status, 0);
    EXPECT_TRUE(seen[1].handling_free);
}

TEST_F(window_exit, a_fatal_error_inside_a_device_handling_does_not_wait_for_that_handling)
{
    std::atomic<bool> done{false};
    QElapsedTimer clock;
    clock.start();
    std::thread handling([&] {
        std::lock_guard<std::mutex> lock(ov::j.handling);
        win->startworking();
        win->show_error_and_exit("error_open_device");
        win->stopworking();
        done = true;
    });
    ASSERT_TRUE(eventually([&] { return done.load(); }));
    handling.join();
    EXPECT_EQ(exits, std::vector<int>{3});
    // The bounded wait for a handling lasts well over a second even with scaled time.
    EXPECT_LT(clock.elapsed(), 1000) << "the exit waited for the handling that asked for it";
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "error_open_device");
}

}  // namespace
}  // namespace ovtest

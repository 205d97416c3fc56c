// Whole stories through the real window: the controller and its notification thread
// run against the simulated enclosure in a temporary directory, the test clicks,
// chooses and answers every alert like a user, and waits by processing events.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"
#include "loader/loaded_library.h"
#include "sim/enclosure.h"
#include "sim/identify.h"
#include "support_app/window_access.h"

namespace stories {

using namespace ovtest;

struct alert_seen {
    QString title, message, first, second;
    int answer = 1;
    bool on_ui_thread = true;
    QString percent_text;  // the progress text on screen when it was shown
    int bar_value = -1;
};

// The panel as it stood right after the bar took a new value.
struct progress_seen {
    int value = 0;  // percent x 10
    QString percent_text, mode_label, disk0mode, disk1mode;
    bool bar_shown = false, mark0 = false, mark1 = false, rebuild0 = false, rebuild1 = false;
};

constexpr uint64_t gib = 2097152;              // sectors in 1 GiB
constexpr uint64_t two_gb_disk = 3906258;      // 2,000,004,096 bytes: shows "2 GB" alone
constexpr uint64_t three_gb_disk = 5859375;    // 3,000,000,000 bytes

class story_test : public engine_fixture, public sim_tree, protected window_access {
protected:
    // Set before launch: the bridge calls go through the simulator built as a loadable
    // library, over the C interface, as a maker's library would be used.
    bool through_loader = false;
    std::unique_ptr<ov::loaded_library> lib;
    std::unique_ptr<ov::sim::enclosure> enc;
    std::unique_ptr<QObject> hooks;
    std::vector<alert_seen> alerts;
    std::map<QString, std::deque<int>> answers;  // by message; OK when none is scripted
    std::vector<progress_seen> progress;
    int values_set = 0;  // every value the bar took, counted as it is set
    std::vector<int> exits;

    void SetUp() override
    {
        // Size texts in powers of ten, whatever the host says.
        setenv("OVRAID_SYSTEM_VERSION", "10.6.0", 1);
        // The stories' disks have always been "Harbor HD a", ...: their images stay comparable.
        model_prefix = "Harbor HD ";
        engine_fixture::SetUp();
        controller::set_alert_handler([this](const QString& title, const QString& message, const QString& first,
                                             const QString& second) {
            alert_seen a{title, message, first, second, 1, QThread::currentThread() == qApp->thread(), {}, -1};
            auto it = answers.find(message);
            if (it != answers.end() && !it->second.empty()) {
                a.answer = it->second.front();
                it->second.pop_front();
            }
            if (win) {
                a.percent_text = text("percentagefield");
                a.bar_value = find<QProgressBar>("levelindicator")->value();
            }
            alerts.push_back(a);
            return a.answer;
        });
        controller::set_exit_handler([this](int status) { exits.push_back(status); });
    }

    void TearDown() override
    {
        if (win) {
            // No new device events; then the notification thread (once the handling it may
            // be in is over) and every monitor stop, their requests served here meanwhile.
            enc->stop_watching();
            ov::stop_engine_threads();
            EXPECT_TRUE(exits.empty()) << "the window asked to end the process";
            for (const alert_seen& a : alerts)
                EXPECT_TRUE(a.on_ui_thread) << a.message.toStdString() << " shown off the window's thread";
            win.reset();
            hooks.reset();
        }
        engine_fixture::TearDown();
        if (enc)
            enc->set_binder(nullptr);
        enc.reset();
        lib.reset();
        controller::set_alert_handler(nullptr);
        controller::set_exit_handler(nullptr);
    }

    // ---- the simulated hardware ----------------------------------------------------------

    void insert(const std::string& bridge, int port, const std::string& disk)
    {
        ASSERT_TRUE(st.insert_disk(bridge, port, disk, error)) << error;
    }

    std::string image(const std::string& bridge, int port) const { return st.port_image(bridge, port); }

    ov::sim::identify_block identify_of(const std::string& bridge, int port)
    {
        ov::sim::identify_block id{};
        EXPECT_TRUE(st.read_identify(st.port_dir(bridge, port), id, error)) << error;
        return id;
    }

    uint64_t sectors_of(const std::string& bridge, int port)
    {
        const ov::sim::identify_block id = identify_of(bridge, port);
        return ov::sim::identify_capacity(id.data());
    }

    // The record where the host looks for it: fifteen sectors before the IDENTIFY end.
    ov::raid_info record_of(const std::string& bridge, int port)
    {
        const std::string bytes = read_bytes(image(bridge, port), (sectors_of(bridge, port) - 15) * 512, 512);
        return ov::raid_info::of(reinterpret_cast<const unsigned char*>(bytes.data()));
    }

    // Both records of a set as the host writes them: signed, of this mode, member and size,
    // no source mark, each naming the disk in the other port byte for byte as it answers
    // IDENTIFY.
    ::testing::AssertionResult a_set(const std::string& bridge, uint32_t mode, uint64_t capacity)
    {
        for (int port = 0; port < 2; ++port) {
            const ov::raid_info r = record_of(bridge, port);
            const ov::sim::identify_block partner = identify_of(bridge, 1 - port);
            if (!ov::has_signature(r.data()) || r.mode() != mode || r.member() != uint32_t(port) || r.source() ||
                r.capacity() != capacity)
                return ::testing::AssertionFailure() << "port " << port << ": signed " << ov::has_signature(r.data())
                                                     << ", mode " << r.mode() << ", member " << r.member()
                                                     << ", source " << r.source() << ", size " << r.capacity();
            if (std::memcmp(r.partner_serial, partner.data() + 20, 20) != 0 ||
                std::memcmp(r.partner_model, partner.data() + 54, 40) != 0)
                return ::testing::AssertionFailure() << "port " << port << " names another disk than port " << 1 - port;
        }
        return ::testing::AssertionSuccess();
    }

    // A record as a bridge would find it, written straight onto the image.
    void write_record(const std::string& bridge, int port, int mode, int flags, uint64_t set_size,
                      const char* stamp = older_stamp)
    {
        const ov::sim::identify_block partner = identify_of(bridge, 1 - port);
        unsigned char st16[16] = {};
        std::memcpy(st16, stamp, std::strlen(stamp));
        const ov::raid_info r = ov::create_raid_struct(mode, port, flags, 0, set_size, partner.data() + 20,
                                                       partner.data() + 54, set_size >= ov::two_tb_sectors, st16);
        write_bytes(image(bridge, port), (sectors_of(bridge, port) - 15) * 512,
                    std::string(reinterpret_cast<const char*>(r.data()), 512));
    }

    // A mirror of the two disks of a bridge; source_port >= 0 marks a rebuild from it.
    uint64_t write_mirror(const std::string& bridge, int source_port = -1)
    {
        const uint64_t set = std::min(sectors_of(bridge, 0), sectors_of(bridge, 1)) - 16;
        for (int port = 0; port < 2; ++port)
            write_record(bridge, port, ov::mode_raid1, port == source_port ? ov::source_mark : 0, set);
        return set;
    }

    // Data spread over the set, so that a copy has something to carry; the target gets
    // stale data of its own, also where the source has holes. Returns what the source holds.
    using pieces = std::vector<std::pair<uint64_t, std::string>>;
    pieces fill_for_rebuild(const std::string& source, const std::string& target, uint64_t set)
    {
        const pieces data = {{0, random_bytes(1 << 20, 1)},
                             {37ULL << 20, random_bytes(3 * 512, 2)},
                             {(set / 2) * 512, random_bytes(256 << 10, 3)},
                             {(set - 1) * 512, random_bytes(512, 4)}};
        for (const auto& [offset, bytes] : data)
            write_bytes(source, offset, bytes);
        for (uint64_t off = 5ULL << 20; off + (64 << 10) < set * 512; off += 97ULL << 20)
            write_bytes(target, off, random_bytes(64 << 10, static_cast<unsigned>(off >> 20)));
        return data;
    }

    // The data the source held is on the image still (a copy the wrong way would lose it).
    ::testing::AssertionResult holds(const std::string& path, const pieces& data)
    {
        for (const auto& [offset, bytes] : data)
            if (read_bytes(path, offset, bytes.size()) != bytes)
                return ::testing::AssertionFailure() << path << " lost the data at byte " << offset;
        return ::testing::AssertionSuccess();
    }

    // ---- the window ----------------------------------------------------------------------

    // Starts the window as the application does, notification thread included, and waits
    // until the first device handling is over.
    void launch()
    {
        enc = std::make_unique<ov::sim::enclosure>(root);
        enc->sync();
        if (through_loader) {
            std::string why;
            lib = ov::loaded_library::open(OVRAID_SIM_LIBRARY, why);
            ASSERT_TRUE(lib) << why;
            enc->set_binder(lib.get());
            ov::install_library(lib.get());
        } else {
            ov::install_library(enc.get());
        }
        ov::install_registry(enc.get());
        ASSERT_TRUE(enc->start_watching()) << enc->last_error();
        hooks = std::make_unique<QObject>();
        win = std::make_unique<controller>();
        win->awakeFromNib();
        win->applicationDidFinishLaunching(true);
        QProgressBar* bar = find<QProgressBar>("levelindicator");
        QObject::connect(bar, &QProgressBar::valueChanged, hooks.get(), [this](int value) {
            ++values_set;
            // The text follows the value in the same request: look once it has been served.
            QMetaObject::invokeMethod(
                hooks.get(), [this, value] { progress.push_back(snapshot(value)); }, Qt::QueuedConnection);
        });
        // Work posted now runs once the notification thread is in its loop, after its first handling.
        auto looping = std::make_shared<std::atomic<bool>>(false);
        enc->post([looping] { *looping = true; });
        ASSERT_TRUE(eventually([&] { return *looping && idle(); })) << "the first device handling never ended";
    }

    progress_seen snapshot(int value)
    {
        progress_seen p;
        p.value = value;
        p.percent_text = text("percentagefield");
        p.mode_label = text("raidmodelabel");
        p.disk0mode = text("disk0modefield");
        p.disk1mode = text("disk1modefield");
        p.bar_shown = find("levelindicator")->isVisible();
        p.mark0 = !button("rebuild0to1button")->icon().isNull();
        p.mark1 = !button("rebuild1to0button")->icon().isNull();
        p.rebuild0 = button("rebuild0to1button")->isEnabled();
        p.rebuild1 = button("rebuild1to0button")->isEnabled();
        return p;
    }

    // No device handling runs and the window takes input.
    bool idle()
    {
        return idle_and([] { return true; });
    }

    // Idle, and cond holds of the chip list (which no handling can change meanwhile).
    template <typename F>
    bool idle_and(F cond)
    {
        if (!win || win->working())
            return false;
        std::unique_lock<std::mutex> lock(ov::j.handling, std::try_to_lock);
        return lock.owns_lock() && cond();
    }

    // A warm boot is over when the engine knows the bridge's new handle and is idle.
    bool rescanned_after_boot(const std::string& bridge, uint32_t old_service)
    {
        return idle_and([&] {
            const uint32_t s = enc->service_of(bridge);
            return s != 0 && s != old_service && chip_of(bridge) >= 0;
        });
    }

    // Runs f on the chip list while no handling can change it.
    template <typename F>
    void with_chips(F f)
    {
        std::unique_lock<std::mutex> lock(ov::j.handling, std::defer_lock);
        ASSERT_TRUE(eventually([&] { return lock.try_lock(); }));
        f();
    }

    bool shown(const char* name) const { return find(name)->isVisible(); }

    // A click as the user makes it: only on a control that is shown and enabled.
    ::testing::AssertionResult click(const char* name)
    {
        QAbstractButton* b = button(name);
        if (!b->isVisible())
            return ::testing::AssertionFailure() << name << " is hidden";
        if (!b->isEnabled())
            return ::testing::AssertionFailure() << name << " is disabled";
        QPoint at = b->rect().center();
        if (qobject_cast<QRadioButton*>(b)) {
            // A radio row answers only on its circle and caption, not on the rest of its width.
            QStyleOptionButton option;
            option.initFrom(b);
            at = b->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, b).center();
        }
        QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, at);
        return ::testing::AssertionSuccess();
    }

    // A command that restarts the bridge: asked, answered, and followed until the window
    // shows the bridge back under a new handle.
    ::testing::AssertionResult restarted_by(const char* name, const std::string& bridge = "u")
    {
        const uint32_t before = enc->service_of(bridge);
        ::testing::AssertionResult asked = command(name, "all_data_lost");
        if (asked && !eventually([&] { return rescanned_after_boot(bridge, before); }))
            return ::testing::AssertionFailure() << bridge << " never came back after " << name;
        return asked;
    }

    // A command that asks first: wait until the window is free, click, and see the question.
    ::testing::AssertionResult command(const char* name, const char* question)
    {
        if (!eventually([&] { return idle(); }))
            return ::testing::AssertionFailure() << "the window stays busy";
        const size_t before = alerts.size();
        ::testing::AssertionResult clicked = click(name);
        if (!clicked)
            return clicked;
        // An erasing question may first name the disk it erases.
        for (size_t i = before; i < alerts.size(); ++i)
            if (alerts[i].message == QLatin1String(question) ||
                alerts[i].message.endsWith(QLatin1String("\n\n") + QLatin1String(question)))
                return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name << " did not ask \"" << question << "\"";
    }

    // The user picks an entry of the controller list with the keyboard.
    ::testing::AssertionResult choose_controller(int index)
    {
        if (!eventually([&] { return idle(); }))
            return ::testing::AssertionFailure() << "the window stays busy";
        QComboBox* box = find<QComboBox>("controllerselectbox");
        if (!box->isEnabled())
            return ::testing::AssertionFailure() << "the controller list is disabled";
        for (int tries = 0; box->currentIndex() != index && tries < box->count() + 1; ++tries)
            QTest::keyClick(box, box->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
        if (box->currentIndex() != index)
            return ::testing::AssertionFailure() << "entry " << index << " could not be chosen";
        return ::testing::AssertionSuccess();
    }

    // The user clicks a tab of the RAID panel (0 configuration, 1 rebuild).
    void choose_tab(int index)
    {
        QTabBar* bar = find<QTabWidget>("tabview")->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    }

    int count(const char* message) const
    {
        int n = 0;
        for (const alert_seen& a : alerts)
            if (a.message == QLatin1String(message))
                ++n;
        return n;
    }

    std::vector<std::string> messages(size_t from = 0) const
    {
        std::vector<std::string> out;
        for (size_t i = from; i < alerts.size(); ++i)
            out.push_back(alerts[i].message.toStdString());
        return out;
    }

    // The chip the simulated bridge is, by its current service handle.
    int chip_of(const std::string& bridge) const
    {
        const uint32_t s = enc->service_of(bridge);
        for (size_t i = 0; i < ov::j.chips.size(); ++i)
            if (s != 0 && ov::j.chips[i].service == s)
                return static_cast<int>(i);
        return -1;
    }

    // The bar has shown a copy between its start and its end.
    bool under_way() const
    {
        return std::any_of(progress.begin(), progress.end(),
                           [](const progress_seen& p) { return p.value > 0 && p.value < 990; });
    }

    // One followed rebuild as the bar showed it: from the sample at `from` up to and
    // including the final value. Checks that the bar only climbs, stops at 99.0 until
    // the final value and ends at 100.0.
    ::testing::AssertionResult climbed_to_the_end(size_t from, size_t& end, int min_between = 2)
    {
        // The last value's look may still be queued behind the requests that ended the
        // copy (a busy machine ends a pass of events before reaching it).
        QCoreApplication::sendPostedEvents(hooks.get());
        int last = 0, between = 0;
        bool held = false;
        for (size_t i = from; i < progress.size(); ++i) {
            const progress_seen& p = progress[i];
            if (p.value == 1000) {
                if (!held)
                    return ::testing::AssertionFailure() << "the bar never held at 99.0 before the end";
                if (between < min_between)
                    return ::testing::AssertionFailure() << "the bar did not climb: " << between
                                                         << " values between 0 and 99.0";
                if (p.percent_text != QLatin1String("100.0%"))
                    return ::testing::AssertionFailure() << "final text " << p.percent_text.toStdString();
                end = i;
                return ::testing::AssertionSuccess();
            }
            if (p.value == 0 && last == 0)
                continue;  // the bar starting over at 0
            if (p.value < last)
                return ::testing::AssertionFailure() << "the bar went back from " << last << " to " << p.value;
            if (p.value > 990)
                return ::testing::AssertionFailure() << "the bar showed " << p.value / 10.0 << " before the end";
            if (p.value == 990) {
                held = true;
                if (p.percent_text != QLatin1String("99.0%"))
                    return ::testing::AssertionFailure() << "held text " << p.percent_text.toStdString();
            } else if (p.value > 0) {
                ++between;
            }
            last = p.value;
        }
        ::testing::AssertionResult failure = ::testing::AssertionFailure();
        failure << "the bar never reached its final value; it showed";
        for (size_t i = from; i < progress.size(); ++i)
            failure << ' ' << progress[i].value;
        return failure;
    }
};

}  // namespace stories

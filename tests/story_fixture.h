// Whole stories through the real window: the controller and its notification thread
// run against the simulated enclosure in a temporary directory, the test clicks,
// chooses and answers every alert like a user, and waits by processing events.
#pragma once

#include "engine_reset.h"
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "library.h"
#include "posix_io.h"
#include "ovtool.h"
#include "raid.h"
#include "registry.h"
#include "requests.h"
#include "sim/enclosure.h"
#include "sim/identify.h"
#include "sim/store.h"
#include "support_app/wait_until.h"
#include "support_app/window_access.h"
#include "temp_dir.h"
#include "test_data.h"

namespace stories {

// The registry the app is given: the enclosure behind a switch. The notification thread
// and the monitors are detached, so teardown must know when they are done with it:
// when the run loop has returned, and how many refreshes other threads have posted.
class watched_registry final : public ov::device_registry {
public:
    // Never destroyed: a detached thread may still be returning through it at exit.
    static watched_registry& instance()
    {
        static watched_registry* r = new watched_registry;
        return *r;
    }

    void target(ov::sim::enclosure* e)
    {
        std::lock_guard<std::mutex> lock(m_);
        t_ = e;
        ui_ = std::this_thread::get_id();
    }
    int loops_entered() const { return entered_.load(); }
    int loops_left() const { return left_.load(); }
    int posts_off_ui() const { return off_ui_posts_.load(); }

    // Each call goes to the enclosure while one is targeted, under the switch's lock.
    std::string name(ov::registry_entry e) override { return on_target([&](auto& t) { return t.name(e); }); }
    ov::registry_entry parent(ov::registry_entry e) override { return on_target([&](auto& t) { return t.parent(e); }); }
    ov::registry_entry first_child(ov::registry_entry e) override
    {
        return on_target([&](auto& t) { return t.first_child(e); });
    }
    ov::registry_value property(ov::registry_entry e, const std::string& key) override
    {
        return on_target([&](auto& t) { return t.property(e, key); });
    }
    bool matching_available(const std::string& service_class) override
    {
        return on_target([&](auto& t) { return t.matching_available(service_class); });
    }
    uint32_t add_matching_notification(const std::string& service_class, added_handler handler) override
    {
        return on_target([&](auto& t) { return t.add_matching_notification(service_class, std::move(handler)); });
    }
    ov::registry_entry iterator_next(uint32_t iterator) override
    {
        return on_target([&](auto& t) { return t.iterator_next(iterator); });
    }
    int add_interest_notification(ov::registry_entry service, interest_handler handler) override
    {
        return on_target([&](auto& t) { return t.add_interest_notification(service, std::move(handler)); }, -1);
    }
    void release(uint32_t object) override
    {
        on_target([&](auto& t) { return (t.release(object), true); });
    }
    void run_loop() override
    {
        ov::sim::enclosure* t;
        {
            std::lock_guard<std::mutex> lock(m_);
            t = t_;
        }
        ++entered_;
        if (t)
            t->run_loop();
        ++left_;
    }
    void stop_run_loop() override
    {
        std::lock_guard<std::mutex> lock(m_);
        if (t_)
            t_->stop_run_loop();
    }
    void post(std::function<void()> task) override
    {
        std::lock_guard<std::mutex> lock(m_);
        if (t_)
            t_->post(std::move(task));
        if (std::this_thread::get_id() != ui_)
            ++off_ui_posts_;
    }

private:
    watched_registry() = default;
    template <typename F, typename R = std::invoke_result_t<F, ov::sim::enclosure&>>
    R on_target(F f, std::type_identity_t<R> none = R())
    {
        std::lock_guard<std::mutex> lock(m_);
        return t_ ? f(*t_) : none;
    }
    std::mutex m_;
    ov::sim::enclosure* t_ = nullptr;
    std::thread::id ui_;
    std::atomic<int> entered_{0}, left_{0}, off_ui_posts_{0};
};

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
constexpr const char* old_stamp = "20110203090507";

class story_test : public ::testing::Test, protected window_access {
protected:
    ovtest::temp_dir dir;
    std::string root = dir.path() + "/sim";
    ov::sim::store st{root};
    std::string error;
    std::unique_ptr<ov::sim::enclosure> enc;
    std::unique_ptr<QObject> hooks;
    std::vector<alert_seen> alerts;
    std::map<QString, std::deque<int>> answers;  // by message; OK when none is scripted
    std::vector<progress_seen> progress;
    int values_set = 0;  // every value the bar took, counted as it is set
    std::vector<int> exits;
    int refreshes_at_launch = 0, loops_at_launch = 0, entered_at_launch = 0;

    // Refreshes other threads have asked for since the launch, by either path.
    static int off_ui_refreshes() { return reg().posts_off_ui(); }

    static watched_registry& reg() { return watched_registry::instance(); }

    void SetUp() override
    {
        // Size texts in powers of ten, whatever the host says.
        setenv("OVRAID_SYSTEM_VERSION", "10.6.0", 1);
        reset_globals();
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
            // No new device events; then the notification thread leaves its loop once the
            // handling it may be in is over (its window requests keep being served here).
            enc->stop_watching();
            reg().stop_run_loop();
            EXPECT_TRUE(wait_until([&] { return reg().loops_left() > loops_at_launch; }))
                << "the notification thread never left its run loop";
            // The chip list is still now: stop every monitor, serving their requests meanwhile.
            for (size_t i = 0; i < ov::j.chips.size(); ++i)
                ov::j.stop_monitors(static_cast<int>(i));
            // A watcher that showed the hot-swap notice goes on to post a refresh.
            const int hot_swaps = count("hot_swap");
            EXPECT_TRUE(wait_until([&] { return off_ui_refreshes() - refreshes_at_launch >= hot_swaps; }));
            EXPECT_TRUE(exits.empty()) << "the window asked to end the process";
            for (const alert_seen& a : alerts)
                EXPECT_TRUE(a.on_ui_thread) << a.message.toStdString() << " shown off the window's thread";
            ov::set_ctrller(nullptr);
            win.reset();
            hooks.reset();
        }
        reset_globals();
        reg().target(nullptr);
        ov::install_registry(nullptr);
        ov::install_library(nullptr);
        enc.reset();
        controller::set_alert_handler(nullptr);
        controller::set_exit_handler(nullptr);
    }

    static void reset_globals()
    {
        ovtest::reset_engine_globals();
        ov::set_ctrller(nullptr);
    }

    // ---- the simulated hardware ----------------------------------------------------------

    void add_usb(const std::string& name, int64_t location, double rebuild_seconds)
    {
        ov::sim::bridge_desc b;
        b.name = name;
        b.location_id = location;
        b.usb_serial = "USB-" + name;
        b.rebuild_seconds = rebuild_seconds;
        ASSERT_TRUE(st.add_bridge(b, error)) << error;
    }

    void add_firewire(const std::string& name, uint64_t guid, double rebuild_seconds)
    {
        ov::sim::bridge_desc b;
        b.name = name;
        b.firewire = true;
        b.guid = guid;
        b.device_name = "FW Volume";
        b.rebuild_seconds = rebuild_seconds;
        ASSERT_TRUE(st.add_bridge(b, error)) << error;
    }

    // A blank disk on the shelf.
    void shelf_disk(const std::string& name, uint64_t sectors)
    {
        const ov::sim::disk_desc d{"Harbor HD " + name, "SN-" + name, sectors, "lba48", false};
        ASSERT_TRUE(st.make_disk(name, d, error)) << error;
    }

    void insert(const std::string& bridge, int port, const std::string& disk)
    {
        ASSERT_TRUE(st.insert_disk(bridge, port, disk, error)) << error;
    }

    void put_disk(const std::string& bridge, int port, const std::string& name, uint64_t sectors)
    {
        ASSERT_NO_FATAL_FAILURE(shelf_disk(name, sectors));
        ASSERT_NO_FATAL_FAILURE(insert(bridge, port, name));
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

    static std::string read_bytes(const std::string& path, uint64_t offset, size_t n)
    {
        std::string s(n, '\0');
        const ov::io::unique_fd fd = ov::io::open_fd(path, O_RDONLY);
        EXPECT_TRUE(fd && ov::io::pread_all(fd.get(), s.data(), n, static_cast<off_t>(offset))) << path;
        return s;
    }

    static void write_bytes(const std::string& path, uint64_t offset, const std::string& data)
    {
        const ov::io::unique_fd fd = ov::io::open_fd(path, O_WRONLY);
        ASSERT_TRUE(fd && ov::io::pwrite_all(fd.get(), data.data(), data.size(), static_cast<off_t>(offset))) << path;
    }

    // The extents of an image holding data, within [0, bytes) (all of it when the file
    // system cannot tell holes from data).
    static std::vector<std::pair<uint64_t, uint64_t>> data_extents(int fd, uint64_t bytes)
    {
        std::vector<std::pair<uint64_t, uint64_t>> out;
        uint64_t pos = 0;
        while (pos < bytes) {
            const off_t d = ::lseek(fd, static_cast<off_t>(pos), SEEK_DATA);
            if (d < 0) {
                if (errno != ENXIO)
                    out.emplace_back(pos, bytes);
                break;
            }
            if (static_cast<uint64_t>(d) >= bytes)
                break;
            const off_t h = ::lseek(fd, d, SEEK_HOLE);
            const uint64_t stop = h < 0 ? bytes : std::min<uint64_t>(static_cast<uint64_t>(h), bytes);
            out.emplace_back(static_cast<uint64_t>(d), stop);
            pos = stop;
        }
        return out;
    }

    // First byte at which two images differ in [0, bytes), or -1. Where both images have
    // holes they read as zeros alike, so only the places where either holds data are read.
    static int64_t first_difference(const std::string& a, const std::string& b, uint64_t bytes)
    {
        const ov::io::unique_fd fa = ov::io::open_fd(a, O_RDONLY), fb = ov::io::open_fd(b, O_RDONLY);
        EXPECT_TRUE(fa && fb) << a << " " << b;
        if (!fa || !fb)
            return -1;
        auto extents = data_extents(fa.get(), bytes);
        const auto more = data_extents(fb.get(), bytes);
        extents.insert(extents.end(), more.begin(), more.end());
        std::sort(extents.begin(), extents.end());
        std::vector<char> ba(4 << 20), bb(4 << 20);
        uint64_t done = 0;  // everything below has been compared or is a hole in both
        for (const auto& [first, last] : extents) {
            for (uint64_t off = std::max(first, done); off < last; off += ba.size()) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(ba.size(), last - off));
                if (!ov::io::pread_all(fa.get(), ba.data(), n, static_cast<off_t>(off)) ||
                    !ov::io::pread_all(fb.get(), bb.data(), n, static_cast<off_t>(off)))
                    return static_cast<int64_t>(off);
                const auto end = ba.begin() + static_cast<std::ptrdiff_t>(n);
                if (const auto x = std::mismatch(ba.begin(), end, bb.begin()).first; x != end)
                    return static_cast<int64_t>(off) + (x - ba.begin());
            }
            done = std::max(done, last);
        }
        return -1;
    }

    // The record where the host looks for it: fifteen sectors before the IDENTIFY end.
    ov::raid_info record_of(const std::string& bridge, int port)
    {
        const std::string bytes = read_bytes(image(bridge, port), (sectors_of(bridge, port) - 15) * 512, 512);
        return ov::raid_info::of(reinterpret_cast<const unsigned char*>(bytes.data()));
    }

    static bool all_zero(const unsigned char* p, size_t n)
    {
        return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
    }

    // The record names the disk in the other port as its partner, byte for byte as that
    // disk answers IDENTIFY.
    ::testing::AssertionResult names_partner(const ov::raid_info& r, const std::string& bridge, int partner_port)
    {
        const ov::sim::identify_block id = identify_of(bridge, partner_port);
        if (std::memcmp(r.partner_serial, id.data() + 20, 20) != 0)
            return ::testing::AssertionFailure() << "partner serial is not that of port " << partner_port;
        if (std::memcmp(r.partner_model, id.data() + 54, 40) != 0)
            return ::testing::AssertionFailure() << "partner model is not that of port " << partner_port;
        return ::testing::AssertionSuccess();
    }

    // A record as a bridge would find it, written straight onto the image.
    void write_record(const std::string& bridge, int port, int mode, int flags, uint64_t set_size,
                      const char* stamp = old_stamp)
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
        reg().target(enc.get());
        ov::install_library(enc.get());
        ov::install_registry(&reg());
        ASSERT_TRUE(enc->start_watching()) << enc->last_error();
        refreshes_at_launch = off_ui_refreshes();
        loops_at_launch = reg().loops_left();
        entered_at_launch = reg().loops_entered();
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
        ASSERT_TRUE(wait_until([&] { return reg().loops_entered() > entered_at_launch && idle(); }))
            << "the first device handling never ended";
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

    // Stories wait on whole bridge restarts and copies: a longer limit than the window tests.
    static bool wait_until(const std::function<bool()>& cond, int limit_ms = 60000)
    {
        return ::wait_until(cond, limit_ms);
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
        ASSERT_TRUE(wait_until([&] { return lock.try_lock(); }));
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

    // A command that asks first: wait until the window is free, click, and see the question.
    ::testing::AssertionResult command(const char* name, const char* question)
    {
        if (!wait_until([&] { return idle(); }))
            return ::testing::AssertionFailure() << "the window stays busy";
        const size_t before = alerts.size();
        ::testing::AssertionResult clicked = click(name);
        if (!clicked)
            return clicked;
        for (size_t i = before; i < alerts.size(); ++i)
            if (alerts[i].message == QLatin1String(question))
                return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name << " did not ask \"" << question << "\"";
    }

    // The user picks an entry of the controller list with the keyboard.
    ::testing::AssertionResult choose_controller(int index)
    {
        if (!wait_until([&] { return idle(); }))
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
    ::testing::AssertionResult climbed_to_the_end(size_t from, size_t& end, int min_between = 2) const
    {
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
        return ::testing::AssertionFailure() << "the bar never reached its final value";
    }
};

}  // namespace stories

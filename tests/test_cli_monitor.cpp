// ovraidctl monitor as a service runs it: a story driven through the simulated enclosures
// while it runs, told on standard output, to the system log, to a program and as desktop
// notifications; the same with no session bus; --oneshot; and the events that sequences of
// snapshots give.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <thread>

#include "cli_suite.h"
#include "events.h"

using namespace ovtest;
using ov::chip_state;
using ov::cli::controller_view;
using ov::cli::event;

namespace {

const std::set<std::string> warnings = {"degraded", "out-of-step", "broken", "disk-not-responding", "rebuild-failed"};

// The system log's stand-in: a datagram socket, drained by a thread as a logger would (a
// socket holds only a few datagrams unread).
class log_socket {
public:
    explicit log_socket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
        reader_ = std::thread([this] {
            for (pollfd p{fd_, POLLIN, 0}; !stop_;) {
                char buffer[4096];
                const ssize_t n = ::poll(&p, 1, 20) > 0 ? ::recv(fd_, buffer, sizeof buffer, 0) : 0;
                std::lock_guard<std::mutex> guard(mutex_);
                if (n > 0)
                    lines_.emplace_back(buffer, static_cast<size_t>(n));
            }
        });
    }
    ~log_socket()
    {
        stop_ = true;
        reader_.join();
        ::close(fd_);
    }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }

private:
    int fd_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread reader_;
};

// A program running beside the test on its session bus (the bus itself, the notification
// service), ended with it.
class background {
public:
    background(const std::vector<std::string>& argv, const std::string& bus)
    {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::string address = "DBUS_SESSION_BUS_ADDRESS=" + bus;
        std::vector<char*> env = {address.data()};
        for (char** e = environ; *e != nullptr; ++e)
            if (!std::string_view(*e).starts_with("DBUS_SESSION_BUS_ADDRESS="))
                env.push_back(*e);
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~background()
    {
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0)
            ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// One event as standard output told it in JSON, its values as plain text ("" for null).
struct told {
    std::string name, controller, number, bay, serial, level, text, percent;
    std::string log_line() const { return "[" + name + "] Controller " + number + " (" + controller + "): " + text; }
    std::string program_call() const
    {
        return name + "|" + controller + "|" + text + "|" + name + "|" + bay + "|" + serial + "|" + level;
    }
};

bool has_event(const std::string& output, const std::string& name, const std::string& controller)
{
    for (const std::string& line : lines_of(output))
        if (line.find("\"event\":\"" + name + "\"") != std::string::npos &&
            line.find("\"controller\":\"" + controller + "\"") != std::string::npos)
            return true;
    return false;
}

class Monitor : public cli_suite {
protected:
    const std::string calls = dir.path() + "/calls", program = dir.path() + "/record";
    const std::string log_path = dir.path() + "/log.sock", to_log = "OVRAID_SYSLOG_SOCKET=" + log_path;

    void SetUp() override
    {
        // "lone" is degraded from the start: its event tells that the monitor has looked.
        mirror("lone");
        pull("lone", 0);
        mirror("story", older_stamp, older_stamp, ov::mode_raid1, 150);
        shelf_disk("blank", disk_sectors);
        spit(program, "#!/bin/sh\nprintf '%s|%s|%s|%s|%s|%s|%s\\n' \"$1\" \"$2\" \"$3\" \"$OVRAID_EVENT\" "
                      "\"$OVRAID_BAY\" \"$OVRAID_SERIAL\" \"$OVRAID_LEVEL\" >> " + calls + "\n");
        ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    }

    // The JSON lines, each checked against the published schema.
    std::vector<told> json_events(const std::string& output)
    {
        const flat_json doc = validated(OVRAID_MONITOR_SCHEMA, output, true);
        std::vector<told> events;
        for (size_t i = 0; value_at(doc, std::to_string(i)) != absent; ++i) {
            const auto field = [&](const char* name) {
                const std::string v = value_at(doc, std::to_string(i) + "/" + name);
                return v == "null" ? "" : v.front() == '"' ? v.substr(1, v.size() - 2) : v;
            };
            events.push_back({field("event"), field("controller"), field("controller_number"), field("bay"),
                              field("serial"), field("level"), field("text"), field("percent")});
        }
        return events;
    }

    // Every event went to the log in order ("<daemon.warning|info>time ovraidctl[pid]: line")
    // and to the program once (programs run side by side: in any order).
    void expect_logged_and_run(log_socket& log, const std::vector<told>& events)
    {
        EXPECT_TRUE(eventually([&] { return log.lines().size() >= events.size(); }, 10s));
        const std::vector<std::string> logged = log.lines();
        ASSERT_EQ(logged.size(), events.size());
        std::multiset<std::string> want;
        for (size_t i = 0; i < events.size(); ++i) {
            const std::string& l = logged[i];
            EXPECT_EQ(l.substr(0, 4), events[i].level == "warning" ? "<28>" : "<30>") << l;
            // "Jan  5 12:00:00 ovraidctl[PID]: "
            EXPECT_TRUE(l.size() > 30 && l[7] == ' ' && l[10] == ' ' && l[13] == ':' && l[16] == ':') << l;
            EXPECT_EQ(l.substr(19, 11), " ovraidctl[") << l;
            EXPECT_TRUE(l.ends_with("]: " + events[i].log_line())) << l << "\nnot: " << events[i].log_line();
            want.insert(events[i].program_call());
        }
        EXPECT_TRUE(eventually([&] { return lines_of(slurp(calls)).size() >= want.size(); }, 10s));
        const std::vector<std::string> ran = lines_of(slurp(calls));
        EXPECT_EQ(std::multiset<std::string>(ran.begin(), ran.end()), want);
    }
};

// A Python that has the stand-in notification service, or "".
std::string python_with_dbusmock()
{
    for (const char* python : {OVRAID_PYTHON, "/usr/bin/python3"})
        if (run_program({python, "-c", "import dbusmock"}).status == 0)
            return python;
    return "";
}

}  // namespace

// Pull a disk, put a blank one in, rebuild onto it to the end (the mirror healthy again once
// the command that followed the copy has finished it), unplug the enclosure: every
// sink hears the same events in order, and SIGTERM ends the monitor cleanly.
TEST_F(Monitor, StoryReachesEverySink)
{
    const std::string python = python_with_dbusmock();
    if (python.empty())
        GTEST_SKIP() << "python3-dbusmock is not installed (scripts/install-deps.sh installs it)";
    const std::string bus = "unix:path=" + dir.path() + "/bus", shown_log = dir.path() + "/notify.log";
    background daemon({"dbus-daemon", "--session", "--nofork", "--address=" + bus}, bus);
    ASSERT_TRUE(eventually([&] { return ::access((dir.path() + "/bus").c_str(), F_OK) == 0; }, 10s));
    background service({python, "-m", "dbusmock", "--template", "notification_daemon", "-l", shown_log}, bus);
    const std::string owned = "import dbus; print(dbus.SessionBus().name_has_owner('org.freedesktop.Notifications'))";
    ASSERT_TRUE(eventually(
        [&] { return run_program({python, "-c", owned}, {"DBUS_SESSION_BUS_ADDRESS=" + bus}).output == "True\n"; },
        20s));
    log_socket log(log_path);

    // Each step once the monitor has told what the one before did.
    const std::pair<const char*, const char*> after[] = {{"degraded", "USB-lone"},
                                                         {"degraded", "USB-story"},
                                                         {"disk-inserted", "USB-story"},
                                                         {"healthy", "USB-story"},
                                                         {"controller-removed", "USB-story"}};
    int step = 0;
    const auto enough = [&](const std::string& out) {
        for (std::string disk; step < 5 && has_event(out, after[step].first, after[step].second);) {
            switch (step++) {
            case 0: EXPECT_TRUE(st.pull_disk("story", 1, disk, error)) << error; break;
            case 1: EXPECT_TRUE(st.insert_disk("story", 1, "blank", error)) << error; break;
            case 2: {
                const program_run rebuild = ctl({"rebuild", "USB-story", "--from", "1", "--yes", "--wait"});
                EXPECT_EQ(rebuild.status, 0) << rebuild.output << rebuild.errors;
                break;
            }
            case 3: EXPECT_TRUE(st.set_plugged("story", false, error)) << error; break;
            }
        }
        return step == 5;
    };
    const program_run run = ctl({"monitor", "--json", "--interval", "1", "--program", program},
                                {to_log, "DBUS_SESSION_BUS_ADDRESS=" + bus}, enough, 60s);
    EXPECT_EQ(run.status, 0) << "SIGTERM ends it cleanly\n" << run.errors;
    EXPECT_EQ(run.errors, "");
    const std::vector<told> events = json_events(run.output);

    std::vector<std::string> story;
    for (const told& e : events)
        if (e.controller == "USB-story")
            story.push_back(e.name + " " + e.bay + " " + e.serial +
                            (e.name == "rebuild-progress" ? " " + std::to_string(int(std::stod(e.percent) / 20) * 20) : ""));
    const std::vector<std::string> want = {
        "disk-removed 2 SN-story1",       "degraded 1 SN-story0",           "disk-inserted 2 SN-blank",
        "rebuild-started 2 SN-blank",     "rebuild-progress 2 SN-blank 20", "rebuild-progress 2 SN-blank 40",
        "rebuild-progress 2 SN-blank 60", "rebuild-progress 2 SN-blank 80", "rebuild-finished 2 SN-blank",
        "healthy  ",                      "controller-removed  "};
    EXPECT_EQ(story, want) << run.output;
    ASSERT_EQ(events.size(), want.size() + 1) << "the healthy are not reported at start:\n" << run.output;
    EXPECT_EQ(events[0].log_line(), "[degraded] Controller 1 (USB-lone): State: degraded: the mirror has only one disk");
    expect_logged_and_run(log, events);

    // One notification each, critical for problems.
    EXPECT_TRUE(eventually([&] { return lines_of(slurp(shown_log)).size() >= events.size(); }, 10s));
    const std::vector<std::string> shown = lines_of(slurp(shown_log));
    ASSERT_EQ(shown.size(), events.size()) << slurp(shown_log);
    // "TIME Notify "ovraidctl" 0 "drive-harddisk" "SUMMARY" "BODY" [] {"urgency": N, ...} -1"
    const std::string head = " Notify \"ovraidctl\" 0 \"drive-harddisk\" \"";
    for (size_t i = 0; i < shown.size(); ++i) {
        const size_t summary = shown[i].find(head) + head.size(), body = shown[i].find("\" \"", summary) + 3;
        const std::string urgency = "\" [] {\"urgency\": ";
        const size_t hints = shown[i].find(urgency, body);
        ASSERT_TRUE(summary > head.size() && body > 3 && hints != std::string::npos) << shown[i];
        EXPECT_EQ("[" + events[i].name + "] " + shown[i].substr(summary, body - 3 - summary) + ": " +
                      shown[i].substr(body, hints - body),
                  events[i].log_line());
        EXPECT_EQ(shown[i][hints + urgency.size()], warnings.count(events[i].name) ? '2' : '1') << shown[i];
    }
}

// No session bus at all: one note, and every other sink still hears everything. Then
// --oneshot on what is left: the problems now, and the exit status of status. The lone
// mirror half, which the window would degrade, is left as it was.
TEST_F(Monitor, WithoutBusAndOneshot)
{
    const std::string lone = st.port_image("lone", 1), kept = dir.path() + "/lone1.img";
    ASSERT_EQ(run_program({"cp", "--sparse=always", lone, kept}).status, 0);
    log_socket log(log_path);
    const std::vector<std::string> nowhere = {to_log, "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.path() + "/no-bus"};
    std::string disk;
    const auto enough = [&](const std::string& out) {
        if (disk.empty() && has_event(out, "degraded", "USB-lone")) {
            EXPECT_TRUE(st.pull_disk("story", 0, disk, error)) << error;
        }
        return has_event(out, "degraded", "USB-story");
    };
    const program_run run = ctl({"monitor", "--json", "--interval", "1", "--program", program}, nowhere, enough, 60s);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_TRUE(run.errors.starts_with("ovraidctl: no desktop notifications: ")) << run.errors;
    EXPECT_EQ(lines_of(run.errors).size(), 1u) << run.errors;
    const std::vector<told> events = json_events(run.output);
    ASSERT_EQ(events.size(), 3u) << run.output;
    EXPECT_EQ(events[1].log_line(), "[disk-removed] Controller 2 (USB-story): Bay 1: disk removed: Harbor HDstory0, "
                                    "S/N SN-story0, 0 GB (40000 sectors), 48-bit LBA, record: RAID 1");
    EXPECT_EQ(events[2].bay + " " + events[2].serial, "2 SN-story1") << "the half with the data";
    expect_logged_and_run(log, events);

    const program_run once = ctl({"monitor", "--oneshot", "--no-syslog"}, nowhere);
    EXPECT_EQ(once.status, 1) << once.errors;
    // "2026-01-05 12:00:00 [degraded] ...", local time.
    const std::vector<std::string> lines = lines_of(once.output);
    ASSERT_EQ(lines.size(), 2u) << once.output;
    for (int i = 0; i < 2; ++i) {
        const std::string& l = lines[static_cast<size_t>(i)];
        EXPECT_TRUE(l.size() > 20 && l[4] == '-' && l[7] == '-' && l[10] == ' ' && l[13] == ':' && l[19] == ' ') << l;
        EXPECT_EQ(l.substr(20), events[static_cast<size_t>(i) * 2].log_line()) << "as the JSON told it before";
    }
    const program_run german = ctl({"monitor", "--oneshot", "--no-notify", "--no-syslog"}, {to_log, "LANG=de_DE.UTF-8"});
    EXPECT_EQ(german.status, 1);
    EXPECT_NE(german.output.find("Zustand: eingeschränkt: der Spiegel hat nur eine Platte"), std::string::npos)
        << german.output;
    EXPECT_EQ(german.errors, "");
    EXPECT_EQ(log.lines().size(), events.size()) << "--no-syslog";
    EXPECT_EQ(first_difference(lone, kept, disk_sectors * 512), -1) << "looking wrote to a disk";
}

namespace {

// A controller as a scan leaves it: bays hold a serial, "" when empty, "?" for a disk that
// does not answer; a rebuild copies bay 1 onto bay 2.
controller_view view(chip_state state, const std::string& bay1, const std::string& bay2, double percent = 0)
{
    controller_view c;
    c.number = 1;
    c.name = "C";
    c.summary.state = state;
    const std::string serials[2] = {bay1, bay2};
    for (int b = 0; b < 2; ++b) {
        ov::bay_summary& bay = c.summary.bays[b];
        bay.bay = b + 1;
        bay.content = serials[b].empty() ? ov::bay_content::empty
                      : serials[b] == "?" ? ov::bay_content::silent
                                          : ov::bay_content::disk;
        if (bay.content == ov::bay_content::disk)
            bay.serial = serials[b];
    }
    if (state == chip_state::degraded)
        c.summary.current_bay = bay1.empty() ? 2 : 1;
    if (state == chip_state::rebuilding) {
        c.rebuild = ov::cli::rebuild_view{1, 2, true, 1000, static_cast<uint64_t>(percent * 10), percent, {}, {},
                                          percent >= 100};
        c.summary.current_bay = 1;
    }
    return c;
}

}  // namespace

// What the story cannot show without waiting for chance: a rebuild cut short, a look that
// comes late, a disk swapped between two looks.
TEST(MonitorEvents, SnapshotSequences)
{
    const auto copying = [](double percent) { return view(chip_state::rebuilding, "A", "B", percent); };
    const auto healthy = view(chip_state::healthy, "A", "B");
    struct look {
        std::vector<controller_view> controllers;
        std::string events;  // "name:bay ..."
    };
    const std::vector<std::pair<std::string, std::vector<look>>> cases = {
        {"a disk pulled during a rebuild",
         {{{copying(30)}, "rebuild-progress:2"},
          {{view(chip_state::degraded, "A", "")}, "disk-removed:2 rebuild-failed:2 degraded:1"}}},
        {"a rebuild seen from its start, a late look, the end told once",
         {{{view(chip_state::degraded, "A", "")}, "degraded:1"},
          {{copying(10)}, "disk-inserted:2 rebuild-started:2"},
          {{copying(65)}, "rebuild-progress:2"},
          {{copying(100)}, "rebuild-finished:2"},
          {{copying(100)}, ""},
          {{healthy}, "healthy:0"}}},
        {"finished by someone between two looks", {{{copying(90)}, "rebuild-progress:2"}, {{healthy}, "rebuild-finished:2 healthy:0"}}},
        {"the controller removed while copying, and back",
         {{{copying(50)}, "rebuild-progress:2"},
          {{}, "controller-removed:0 rebuild-failed:2"},
          {{copying(55)}, "controller-added:0 rebuild-progress:2"}}},
        {"a disk swapped between looks, then disks that stop answering",
         {{{healthy}, ""},
          {{view(chip_state::healthy, "A", "D")}, "disk-removed:2 disk-inserted:2"},
          {{view(chip_state::disk_silent, "A", "?")}, "disk-not-responding:2"},
          {{view(chip_state::disk_silent, "?", "?")}, "disk-not-responding:1"}}},
        {"silent disks at start", {{{view(chip_state::disk_silent, "?", "?")}, "disk-not-responding:1 disk-not-responding:2"}}},
    };
    for (const auto& [what, looks] : cases) {
        SCOPED_TRACE(what);
        ov::cli::event_tracker tracker;
        for (size_t i = 0; i < looks.size(); ++i) {
            const ov::cli::snapshot s{looks[i].controllers};
            std::string got;
            for (const event& e : i == 0 ? tracker.start(s) : tracker.next(s)) {
                got += (got.empty() ? "" : " ") + e.name + ":" + std::to_string(e.bay);
                EXPECT_EQ(e.problem, warnings.count(e.name) > 0) << e.name;
                EXPECT_EQ(e.text.find("mon_"), std::string::npos) << "a text without words: " << e.text;
                EXPECT_EQ(e.state.has_value(), !looks[i].controllers.empty()) << e.name;
                EXPECT_TRUE(!e.name.starts_with("rebuild-") || e.serial == "B") << e.name << " " << e.serial;
            }
            EXPECT_EQ(got, looks[i].events) << "look " << i;
        }
    }
}

// The JSON line stays valid UTF-8 whatever the words: translations are UTF-8 already, a
// disk's bytes may be Latin-1.
TEST(MonitorEvents, JsonLineKeepsEveryText)
{
    event e;
    e.name = "out-of-step";
    e.controller = 2;
    e.controller_name = "USB-\xe9";
    e.serial = "S\"N";
    e.text = "Zustand: nicht im Gleichschritt: die Spiegelh\xc3\xa4lften";
    const std::string line = ov::cli::event_json(e);
    for (const char* part : {"\"controller\":\"USB-\xc3\xa9\"", "\"bay\":null,\"serial\":\"S\\\"N\",\"state\":null,",
                             "\"percent\":null,\"text\":\"Zustand: nicht im Gleichschritt: die Spiegelh\xc3\xa4lften\"}"})
        EXPECT_NE(line.find(part), std::string::npos) << part << "\nin: " << line;
}

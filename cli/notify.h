// Where the monitor's events go besides standard output: the system log, a desktop
// notification on the session bus, and a program of the user's. None of them may hold the
// monitor up or end it: a sink that cannot deliver says so once on standard error.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "events.h"

struct sd_bus;

namespace ov::cli {

// Facility daemon, ident "ovraidctl"; warnings for problems. OVRAID_SYSLOG_SOCKET names a
// Unix datagram socket to send to instead of the system's logger.
class syslog_sink {
public:
    syslog_sink();
    ~syslog_sink();
    syslog_sink(const syslog_sink&) = delete;
    syslog_sink& operator=(const syslog_sink&) = delete;
    void send(const event& e);

private:
    int fd_ = -1;
    std::string path_;
    bool noted_ = false;
};

// org.freedesktop.Notifications on the session bus. Calls are sent without waiting for the
// answer; service() reads the answers as they come.
class desktop_notifier {
public:
    desktop_notifier() = default;
    ~desktop_notifier();
    desktop_notifier(const desktop_notifier&) = delete;
    desktop_notifier& operator=(const desktop_notifier&) = delete;
    void send(const event& e);
    void service();
    // Waits up to real_ms for the answers still due (before the program ends).
    void drain(int real_ms);
    // An answer came: error is null for a notification shown.
    void answered(const char* error);

private:
    bool connect();
    void drop(const std::string& why);
    void note(const std::string& why);

    sd_bus* bus_ = nullptr;
    int pending_ = 0;
    bool noted_ = false;
};

// The user's program, run without a shell for each event: its arguments are the event's
// name, the controller's name and the text. Never waited for; reaped when it has ended.
class program_sink {
public:
    explicit program_sink(std::string program) : program_(std::move(program)) {}
    void send(const event& e);
    void reap();

private:
    std::string program_;
    std::vector<pid_t> running_;
    bool noted_missing_ = false;
};

// Every sink the options ask for, standard output first.
class event_sinks {
public:
    event_sinks(bool json, bool syslog, bool notify, const std::string& program);
    void deliver(const std::vector<event>& events);
    // Between looks: answers from the bus, programs that ended.
    void service();
    // Before the program ends.
    void finish();

private:
    bool json_;
    std::unique_ptr<syslog_sink> log_;
    std::unique_ptr<desktop_notifier> desktop_;
    std::unique_ptr<program_sink> program_;
};

}  // namespace ov::cli

// The command line as ovraidctl reads it: one command, its words, and the options that may
// stand anywhere on the line.
#pragma once

#include <string>
#include <vector>

#include "backend.h"

namespace ov::cli {

struct options {
    backend_options bridges;
    std::string command;                // "" with --help or --version alone
    std::vector<std::string> words;     // what follows the command
    bool json = false, yes = false, force = false, watch = false, wait = false, oneshot = false;
    bool help = false, version = false;
    int from_bay = 0;                   // rebuild --from BAY
    std::string program;                // monitor --program CMD
    bool syslog = true, notify = true;  // monitor: --no-syslog, --no-notify
    double interval = 0;                // monitor / status --watch: seconds between looks, 0 default
};

// A word of the line as an error shows it: control bytes as \xNN.
std::string shown(const std::string& word);

// false with error (one line) for a line that cannot be understood.
bool parse(int argc, char** argv, options& out, std::string& error);

}  // namespace ov::cli

#include "diag.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace ov {

namespace {

std::mutex sink_mutex;
diag_sink current_sink;

void default_sink(diag_level level, std::string_view text)
{
    switch (level) {
    case diag_level::trace:
        return;
    case diag_level::console:
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    case diag_level::info:
        std::fwrite(text.data(), 1, text.size(), stderr);
        return;
    case diag_level::notice:
        syslog(LOG_NOTICE, "%.*s", static_cast<int>(text.size()), text.data());
        return;
    case diag_level::warning:
        std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
        return;
    }
}

}  // namespace

void diag(diag_level level, std::string_view text)
{
    diag_sink sink;
    {
        std::lock_guard<std::mutex> guard(sink_mutex);
        sink = current_sink;
    }
    if (sink)
        sink(level, text);
    else
        default_sink(level, text);
}

void set_diag_sink(diag_sink sink)
{
    std::lock_guard<std::mutex> guard(sink_mutex);
    current_sink = std::move(sink);
}

std::string without_controls(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", b);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace ov

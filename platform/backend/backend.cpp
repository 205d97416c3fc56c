#include "backend.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "sim/conf.h"
#include "posix_io.h"
#include "sim/enclosure.h"
#include "sim/store.h"
#include "loader/loaded_library.h"
#include "udev/udev_registry.h"

namespace ov {

namespace {

constexpr size_t config_limit = 64 * 1024;

std::string user_config_file()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/ovraid/ovraid.conf";
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] != '\0' ? std::string(home) + "/.config/ovraid/ovraid.conf" : std::string();
}

// One file's "library" line; library stays "" when the file does not exist or names none.
bool read_config(const std::string& path, std::string& library, std::string& error)
{
    struct stat st;
    if (path.empty() || (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)))
        return true;  // no such file; one that cannot be looked at is said below
    std::string text;
    if (!io::read_file(path, text, error, config_limit))
        return false;
    std::string bad;
    sim::for_each_line(text, [&](int number, const std::string& line) {
        const size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : sim::trimmed(line.substr(0, eq));
        if (eq == std::string::npos || key != "library") {
            bad = path + ":" + std::to_string(number) + ": expected 'library = PATH', found '" + line + "'";
            return false;
        }
        if (!library.empty()) {
            bad = path + ":" + std::to_string(number) + ": the library is named twice";
            return false;
        }
        library = sim::trimmed(line.substr(eq + 1));
        if (std::any_of(library.begin(), library.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
            bad = path + ":" + std::to_string(number) + ": the library's path holds control characters";
            return false;
        }
        if (library.empty() || library[0] != '/') {
            bad = path + ":" + std::to_string(number) + ": the library must be an absolute path";
            return false;
        }
        return true;
    });
    if (!bad.empty())
        error = bad;
    return bad.empty();
}

class simulated final : public backend {
public:
    explicit simulated(const std::string& root) : root_(root), enclosure_(root) {}
    bridge_library& library() override { return enclosure_; }
    device_registry& registry() override { return enclosure_; }
    void install() override
    {
        install_library(&enclosure_);
        install_registry(&enclosure_);
        enclosure_.start_watching();
    }
    std::string description() const override { return "simulated enclosures in " + root_; }

private:
    std::string root_;
    sim::enclosure enclosure_;
};

// A loaded library; the registry is declared after it, so it goes first and tells the
// library nothing more once the library is gone.
class loaded final : public backend {
public:
    loaded(std::unique_ptr<loaded_library> lib, std::unique_ptr<device_registry> reg, std::string where)
        : lib_(std::move(lib)), reg_(std::move(reg)), sim_(dynamic_cast<sim::enclosure*>(reg_.get())),
          where_(std::move(where))
    {
    }
    ~loaded() override
    {
        if (sim_)
            sim_->set_binder(nullptr);
        reg_.reset();
    }
    bridge_library& library() override { return *lib_; }
    device_registry& registry() override { return *reg_; }
    void install() override
    {
        install_library(lib_.get());
        install_registry(reg_.get());
        if (sim_)
            sim_->start_watching();
    }
    std::string description() const override { return "bridge library " + lib_->path() + ", " + where_; }

private:
    std::unique_ptr<loaded_library> lib_;
    std::unique_ptr<device_registry> reg_;
    sim::enclosure* sim_;  // the simulation's registry, when it is the one
    std::string where_;
};

}  // namespace

bool configured_library(std::string& library, std::string& error)
{
    library.clear();
    if (!read_config(user_config_file(), library, error))
        return false;
    // A user's file that names no library (comments only) leaves the system's to speak.
    return !library.empty() || read_config("/etc/ovraid/ovraid.conf", library, error);
}

std::unique_ptr<backend> backend::open(const backend_options& options, std::string& error)
{
    std::string library = options.library;
    // A simulation named on the command line is looked at as a simulation, whatever the
    // configuration says; only a library named beside it goes through the loader.
    if (library.empty() && !options.sim_given && !configured_library(library, error))
        return nullptr;
    const std::string root = options.sim_root.empty() ? sim::store::default_root() : options.sim_root;
    if (library.empty() || options.sim_given) {
        sim::store store(root);
        if (!store.exists()) {
            if (!options.create_demo) {
                error = root + ": no simulation there (ovraid-sim --sim " + root + " demo makes one)";
                return nullptr;
            }
            if (!store.create_demo(error)) {
                error = "cannot create the demo enclosures in " + root + ": " + error;
                return nullptr;
            }
        }
    }
    if (library.empty())
        return std::make_unique<simulated>(root);
    std::unique_ptr<loaded_library> lib = loaded_library::open(library, error);
    if (!lib)
        return nullptr;
    if (options.sim_given) {
        auto reg = std::make_unique<sim::enclosure>(root);
        reg->set_binder(lib.get());
        return std::make_unique<loaded>(std::move(lib), std::move(reg), "bridges of the simulation in " + root);
    }
    std::unique_ptr<udev_registry> reg = udev_registry::open(lib->match_table(), lib.get(), error);
    if (!reg) {
        error = "cannot follow devices through udev: " + error;
        return nullptr;
    }
    return std::make_unique<loaded>(std::move(lib), std::move(reg), "devices from udev");
}

}  // namespace ov

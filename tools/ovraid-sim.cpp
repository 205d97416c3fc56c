// ovraid-sim: creates and changes the simulated enclosures. Every command is a change
// to the simulation directory; a running ovraid sees it through its watcher.
// Exit status: 0 done, 1 the command failed, 2 the command line is wrong, 3 list found no
// simulation at the root (as ovraidctl says "no simulation there").
#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "diag.h"
#include "panel.h"
#include "posix_io.h"
#include "sim/firmware.h"
#include "sim/firmware_state.h"
#include "sim/service.h"
#include "sim/identify.h"
#include "sim/store.h"
#include "version.h"

namespace {

using namespace ov::sim;

const char* const usage_text =
    "usage: ovraid-sim [--sim DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "commands:\n"
    "  demo                          create the demo: a USB bridge with a RAID 1 of two 1 TB disks\n"
    "                                and a FireWire bridge with two blank disks\n"
    "  list                          show bridges, disks, their records and injected failures\n"
    "  add-bridge NAME --usb|--firewire [--vendor N] [--product N] [--location N] [--serial TEXT]\n"
    "             [--guid N] [--device-name TEXT] [--rebuild-seconds S] [--missing PROP,...] [--unplugged]\n"
    "  remove-bridge NAME            remove a bridge; its disks go to the shelf\n"
    "  plug NAME | unplug NAME\n"
    "  make-disk NAME --size SIZE --model TEXT --serial TEXT [--addressing lba48|lba28|chs] [--hpa]\n"
    "                                a new disk on the shelf; SIZE like 1TB, 500GB, 2TiB or sectors\n"
    "  insert BRIDGE PORT DISK       put a shelf disk into a bay\n"
    "  pull BRIDGE PORT              take the disk out of a bay and put it on the shelf\n"
    "  fail BRIDGE CALL [--mode once|always|mismatch|vanish] [--port PORT] [--skip N]\n"
    "                                make a library call fail (skip: let N matching calls pass first)\n"
    "  clear-failures BRIDGE\n"
    "  firmware [--detach]           run the bridges' firmware (set assembly, rebuild copies, warm\n"
    "                                boots) until idle; the programs start it by themselves\n"
    "  help | --version\n"
    "\n"
    "PORT names a bay as the library numbers its ports: 0 (or bay1) is Bay 1, 1 (or bay2) is Bay 2.\n"
    "Sizes are shown in decimal units (1 TB = 10^12 bytes) with the exact number of 512-byte sectors.\n"
    "\n"
    "Exit status: 0 done, 1 the command failed, 2 the command line is wrong, 3 list found no simulation.\n"
    "\n"
    "The simulation lives in $XDG_DATA_HOME/ovraid/sim (or ~/.local/share/ovraid/sim) unless --sim\n"
    "names another directory.\n";

struct usage_error {
    std::string message;
};

// The arguments after the command: positionals, valued options and flags.
struct arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    bool has(const std::string& option) const { return values.count(option) != 0 || flags.count(option) != 0; }
    std::string value(const std::string& option, const std::string& fallback = std::string()) const
    {
        auto it = values.find(option);
        return it == values.end() ? fallback : it->second;
    }
};

arguments parse(const std::vector<std::string>& args, const std::set<std::string>& valued,
                const std::set<std::string>& flags)
{
    arguments a;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            std::string key = arg, value;
            const size_t eq = arg.find('=');
            const bool inline_value = eq != std::string::npos;
            if (inline_value) {
                key = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
            if (valued.count(key) != 0) {
                if (!inline_value) {
                    if (i + 1 >= args.size())
                        throw usage_error{"option " + key + " needs a value"};
                    value = args[++i];
                }
                if (a.values.count(key) != 0)
                    throw usage_error{"option " + key + " given twice"};
                a.values[key] = value;
            } else if (flags.count(key) != 0 && !inline_value) {
                a.flags.insert(key);
            } else {
                throw usage_error{"unknown option " + arg};
            }
        } else {
            a.positional.push_back(arg);
        }
    }
    return a;
}

void want_positionals(const arguments& a, size_t n, const char* form)
{
    if (a.positional.size() != n)
        throw usage_error{std::string("expected: ") + form};
}

uint64_t number(const std::string& option, const std::string& text, uint64_t max)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        throw usage_error{option + ": '" + text + "' is not a number"};
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max)
        throw usage_error{option + ": '" + text + "' is not a number up to " + std::to_string(max)};
    return v;
}

// The engine's port numbers (what scripts pass) or the bay printed on the enclosure.
int port_number(const std::string& text)
{
    if (text == "0" || text == "bay1")
        return 0;
    if (text == "1" || text == "bay2")
        return 1;
    throw usage_error{"no bay '" + text + "': Bay 1 is 0 or bay1, Bay 2 is 1 or bay2"};
}

std::string bay(int port)
{
    return "Bay " + std::to_string(port + 1);
}

// The store names ports as the engine numbers them; a user reads the bays printed on the
// enclosure. Paths (".../port0/...") have no space and stay as they are.
std::string in_bays(std::string text)
{
    for (int port : {0, 1}) {
        const std::string engine = "port " + std::to_string(port);
        for (size_t at = text.find(engine); at != std::string::npos; at = text.find(engine, at)) {
            const size_t end = at + engine.size();
            if (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
                at = end;
                continue;
            }
            text.replace(at, engine.size(), bay(port));
        }
    }
    return text;
}

int failed(const std::string& message)
{
    std::fprintf(stderr, "ovraid-sim: %s\n", ov::without_controls(in_bays(message)).c_str());
    return 1;
}

// One form of size in every front end: "1.00 TB", "999 GB", and here the exact count.
std::string size_words(uint64_t sectors)
{
    return ov::capacity_text(sectors, true) + " (" + std::to_string(sectors) + " sectors)";
}

std::string serial_words(const std::string& serial)
{
    return serial.empty() ? std::string("no S/N") : "S/N " + serial;
}

std::string guid_words(uint64_t guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "GUID %016llX", static_cast<unsigned long long>(guid));
    return text;
}

std::string describe_disk(const store& s, const std::string& dir, const std::string& indent)
{
    disk_desc d;
    std::string name, error;
    if (!s.read_disk(dir, d, name, error))
        return error.empty() ? "empty\n" : "unreadable: " + error + "\n";
    std::string out = name + ": \"" + d.model + "\", " + serial_words(d.serial) + ", " + size_words(d.sectors) + ", " +
                      d.addressing + (d.hpa_enabled ? ", HPA" : "");
    identify_block id;
    if (!s.read_identify(dir, id, error))
        return out + "\n" + indent + "identify: " + in_bays(error) + "\n";
    if (ov::io::path_exists(dir + "/" + identify_file)) {
        const std::string doubts = identify_doubts(id, d.sectors);
        out += ", IDENTIFY from identify.bin";
        if (!doubts.empty())
            out += "\n" + indent + "identify: " + dir + "/" + identify_file + ": " + doubts;
    }
    out += "\n";
    uint64_t lba = 0;
    if (!record_sector(id.data(), d.sectors, lba))
        return out + indent + "record: none (no record sector inside the image)\n";
    unsigned char sector[512];
    const std::string image = dir + "/" + image_file;
    const ov::io::unique_fd fd = ov::io::open_fd(image, O_RDONLY);
    if (!fd || !ov::io::pread_all(fd.get(), sector, 512, static_cast<off_t>(lba * 512)))
        return out + indent + "record: unreadable (" + image + ")\n";
    const record_summary r = decode_record(sector);
    if (!r.valid)
        return out + indent + "record: none at sector " + std::to_string(lba) + "\n";
    static const char* modes[] = {"none", "RAID 0", "RAID 1", "mode 3", "span"};
    out += indent + "record at sector " + std::to_string(lba) + ": " +
           (r.mode <= 4 ? modes[r.mode] : "mode " + std::to_string(r.mode)) + ", member " + std::to_string(r.member) +
           (r.source ? ", rebuild source" : "") + ", set capacity " + size_words(r.capacity) + ", stamp " +
           (r.stamp.empty() ? "(none)" : r.stamp) + "\n";
    return out;
}

// The bridge's power and rebuild as its firmware last wrote them.
std::string firmware_line(const store& sim, const std::string& bridge)
{
    power_state power;
    rebuild_progress progress;
    std::string error;
    if (!read_power(sim.root(), bridge, power, error) || !read_progress(sim.root(), bridge, progress, error))
        return "unreadable: " + in_bays(error);
    std::string line = power.state == power_state::kind::up          ? std::string("up")
                       : power.state == power_state::kind::rebooting ? std::string("restarting")
                                                                     : std::string("off");
    if (progress.state != rebuild_progress::kind::none) {
        static const char* const words[] = {"", "running", "stopped", "done"};
        line += ", rebuild " + std::string(words[static_cast<int>(progress.state)]) + " at " +
                std::to_string(progress.current) + " of " + std::to_string(progress.total) + " sectors from " +
                bay(static_cast<int>(progress.source_port));
        if (progress.state == rebuild_progress::kind::running && !firmware_running(sim.root()))
            line += " (the firmware is not running: any front end starts it again)";
    }
    return line;
}

// What "list" prints: bridges, ports, disks, records and failures. unreadable: the root or
// a bridge directory that could not be read ("" when all could).
std::string listing(const store& sim, std::string& unreadable)
{
    std::vector<std::string> names;
    const bool whole = sim.bridges(names, unreadable);
    std::string out = "simulation root: " + ov::without_controls(sim.root()) +
                      (sim.exists() || !unreadable.empty() ? "" : " (does not exist)") + "\n";
    if (names.empty())
        out += whole ? "no bridges\n" : "bridges: unreadable: " + unreadable + "\n";
    for (const auto& b : names) {
        bridge_desc s;
        std::string error;
        if (!sim.read_bridge(b, s, error)) {
            out += "bridge " + b + ": unreadable: " + in_bays(error) + "\n";
            continue;
        }
        // Named as the window names an enclosure: its bus, then its S/N or GUID.
        out += "bridge " + b + ": " +
               (s.firewire ? "FireWire enclosure, " + guid_words(s.guid) : "USB enclosure, " + serial_words(s.usb_serial)) +
               ", " + (s.plugged ? "plugged" : "unplugged") + "\n";
        if (!s.firewire)
            out += "  vendor " + hex4(s.vendor_id) + ", product " + hex4(s.product_id) + ", location " +
                   (s.location_id >= 0 ? hex(static_cast<uint64_t>(s.location_id)) : std::to_string(s.location_id)) +
                   "\n";
        char secs[64];
        std::snprintf(secs, sizeof secs, "%g", s.rebuild_seconds);
        out += "  device \"" + s.device_name + "\", rebuild " + secs + " s\n";
        out += "  firmware: " + firmware_line(sim, b) + "\n";
        if (!s.missing_properties.empty()) {
            out += "  missing properties:";
            for (const auto& p : s.missing_properties)
                out += " \"" + p + "\"";
            out += "\n";
        }
        for (int port = 0; port < 2; ++port)
            out += "  " + bay(port) + ": " + describe_disk(sim, sim.port_dir(b, port), "         ");
        std::vector<failure_desc> failures;
        if (!sim.read_failures(b, failures, error))
            out += "  failures: unreadable: " + in_bays(error) + "\n";
        for (const auto& f : failures)
            out += "  failure: " + f.call + " " + f.mode + (f.port >= 0 ? " in " + bay(f.port) : "") +
                   (f.skip > 0 ? " after " + std::to_string(f.skip) + " matching calls" : "") + "\n";
    }
    const auto slots = sim.shelf();
    out += "shelf:" + std::string(slots.empty() ? " empty" : "") + "\n";
    for (const auto& d : slots)
        out += "  " + describe_disk(sim, sim.shelf_dir(d), "    ");
    return out;
}

// The bridge other than cfg's at cfg's USB location or with its GUID ("" when none): the
// scan tells enclosures apart by these, and would show only one of two that share one.
std::string bridge_in_place(const store& s, const bridge_desc& cfg)
{
    for (const auto& b : s.bridges()) {
        bridge_desc other;
        std::string error;
        if (b != cfg.name && s.read_bridge(b, other, error) && other.firewire == cfg.firewire &&
            (cfg.firewire ? other.guid == cfg.guid : other.location_id == cfg.location_id))
            return b;
    }
    return std::string();
}

int run(ov::sim::store& s, const std::string& command, const std::vector<std::string>& rest)
{
    std::string error;
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if (command == "--version" || command == "version") {
        std::printf("ovraid-sim %s\n", OVRAID_VERSION);
        return 0;
    }
    if (command == "demo") {
        want_positionals(parse(rest, {}, {}), 0, "demo");
        if (!s.create_demo(error))
            return failed(error);
        std::printf("demo created in %s\n", s.root().c_str());
        return 0;
    }
    if (command == "list") {
        want_positionals(parse(rest, {}, {}), 0, "list");
        std::fputs(listing(s, error).c_str(), stdout);
        if (!error.empty())
            return failed(error);
        // A mistyped --sim lists nothing, which a script would take for an empty simulation.
        return s.exists() ? 0 : 3;
    }
    if (command == "add-bridge") {
        const arguments a = parse(rest,
                                  {"--vendor", "--product", "--location", "--serial", "--guid", "--device-name",
                                   "--rebuild-seconds", "--missing"},
                                  {"--usb", "--firewire", "--unplugged"});
        want_positionals(a, 1, "add-bridge NAME --usb|--firewire [options]");
        if (a.has("--usb") == a.has("--firewire"))
            throw usage_error{"add-bridge needs exactly one of --usb and --firewire"};
        ov::sim::bridge_desc cfg;
        cfg.name = a.positional[0];
        cfg.firewire = a.has("--firewire");
        for (const char* usb_only : {"--vendor", "--product", "--location", "--serial"})
            if (cfg.firewire && a.has(usb_only))
                throw usage_error{std::string(usb_only) + " belongs to a USB bridge"};
        if (!cfg.firewire && a.has("--guid"))
            throw usage_error{"--guid belongs to a FireWire bridge"};
        if (a.has("--vendor"))
            cfg.vendor_id = static_cast<uint32_t>(number("--vendor", a.value("--vendor"), 0xFFFF));
        if (a.has("--product"))
            cfg.product_id = static_cast<uint32_t>(number("--product", a.value("--product"), 0xFFFF));
        if (a.has("--location"))
            cfg.location_id = static_cast<int64_t>(number("--location", a.value("--location"), 0xFFFFFFFFULL));
        cfg.usb_serial = a.value("--serial");
        if (a.has("--guid"))
            cfg.guid = number("--guid", a.value("--guid"), UINT64_MAX);
        else if (cfg.firewire)
            cfg.guid = 0x8000460100000000ULL | (std::hash<std::string>{}(cfg.name) & 0xFFFFFFFFULL);
        cfg.device_name = a.value("--device-name", cfg.device_name);
        if (a.has("--rebuild-seconds")) {
            const std::string t = a.value("--rebuild-seconds");
            char* end = nullptr;
            cfg.rebuild_seconds = std::strtod(t.c_str(), &end);
            if (t.empty() || *end != '\0' || !(cfg.rebuild_seconds >= 0 && cfg.rebuild_seconds <= max_rebuild_seconds))
                throw usage_error{"--rebuild-seconds: '" + t + "' is not a number of seconds up to 604800 (a week)"};
        }
        if (a.has("--missing")) {
            std::string list = a.value("--missing");
            size_t start = 0;
            while (start <= list.size()) {
                const size_t comma = list.find(',', start);
                const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                                        : comma - start);
                if (!item.empty())
                    cfg.missing_properties.push_back(item);
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        }
        cfg.plugged = !a.has("--unplugged");
        const bool placed = a.has(cfg.firewire ? "--guid" : "--location");
        for (std::string other = bridge_in_place(s, cfg); !other.empty(); other = bridge_in_place(s, cfg)) {
            if (placed)
                return failed("bridge '" + other + "' already has " +
                              (cfg.firewire ? guid_words(cfg.guid)
                                            : "USB location " + hex(static_cast<uint64_t>(cfg.location_id))));
            // The next port of the bus, or the next GUID of the vendor.
            if (cfg.firewire)
                ++cfg.guid;
            else if ((cfg.location_id += 0x100000) > 0xFFFFFFFFLL)
                return failed("no free USB location left for bridge '" + cfg.name + "'");
        }
        if (!s.add_bridge(cfg, error))
            return failed(error);
        std::printf("added %s bridge %s (%s)\n", cfg.firewire ? "FireWire" : "USB", cfg.name.c_str(),
                    cfg.plugged ? "plugged" : "unplugged");
        return 0;
    }
    if (command == "remove-bridge" || command == "plug" || command == "unplug") {
        const arguments a = parse(rest, {}, {});
        want_positionals(a, 1, (command + " NAME").c_str());
        const std::string& name = a.positional[0];
        // Plugged in, the bridge powers up at once (and starts a rebuild its disks ask for),
        // whether or not a front end is looking.
        const bool ok = command == "remove-bridge" ? s.remove_bridge(name, error)
                                                   : ov::sim::set_plugged(s.root(), name, command == "plug", error);
        bridge_desc now;
        std::string ignored;
        if (ok || (command == "plug" && s.read_bridge(name, now, ignored) && now.plugged))
            std::printf("%s %s\n", command == "remove-bridge" ? "removed" : command == "plug" ? "plugged" : "unplugged",
                        name.c_str());
        return ok ? 0 : failed(error);
    }
    if (command == "firmware") {
        const arguments a = parse(rest, {}, {"--detach"});
        want_positionals(a, 0, "firmware [--detach]");
        if (!s.exists())
            return failed("no simulation in " + s.root());
        return serve_firmware(s.root(), a.has("--detach"));
    }
    if (command == "make-disk") {
        const arguments a = parse(rest, {"--size", "--model", "--serial", "--addressing"}, {"--hpa"});
        want_positionals(a, 1, "make-disk NAME --size SIZE --model TEXT --serial TEXT");
        for (const char* required : {"--size", "--model", "--serial"})
            if (!a.has(required))
                throw usage_error{std::string("make-disk needs ") + required};
        ov::sim::disk_desc cfg;
        if (!ov::sim::parse_size(a.value("--size"), cfg.sectors, error))
            throw usage_error{"--size: " + error};
        cfg.model = a.value("--model");
        cfg.serial = a.value("--serial");
        cfg.addressing = a.value("--addressing", "lba48");
        if (cfg.addressing != "lba48" && cfg.addressing != "lba28" && cfg.addressing != "chs")
            throw usage_error{"--addressing must be lba48, lba28 or chs"};
        cfg.hpa_enabled = a.has("--hpa");
        if (!s.make_disk(a.positional[0], cfg, error))
            return failed(error);
        std::printf("made disk %s: %s, on the shelf\n", a.positional[0].c_str(), size_words(cfg.sectors).c_str());
        return 0;
    }
    if (command == "insert") {
        const arguments a = parse(rest, {}, {});
        want_positionals(a, 3, "insert BRIDGE PORT DISK");
        const int port = port_number(a.positional[1]);
        if (!s.insert_disk(a.positional[0], port, a.positional[2], error))
            return failed(error);
        std::printf("inserted %s into %s of %s\n", a.positional[2].c_str(), bay(port).c_str(), a.positional[0].c_str());
        // The bridge notices the disk by itself, whether or not a front end is looking.
        if (!ov::sim::disk_inserted(s.root(), a.positional[0], error))
            return failed(error);
        return 0;
    }
    if (command == "pull") {
        const arguments a = parse(rest, {}, {});
        want_positionals(a, 2, "pull BRIDGE PORT");
        const int port = port_number(a.positional[1]);
        std::string disk;
        // The bridge notices the disk going, whether or not a front end is looking.
        const bool noticed = ov::sim::pull_disk(s.root(), a.positional[0], port, disk, error);
        if (!disk.empty())
            std::printf("pulled %s from %s of %s; it is on the shelf\n", disk.c_str(), bay(port).c_str(),
                        a.positional[0].c_str());
        return noticed ? 0 : failed(error);
    }
    if (command == "fail") {
        const arguments a = parse(rest, {"--mode", "--port", "--skip"}, {});
        want_positionals(a, 2, "fail BRIDGE CALL [--mode M] [--port PORT] [--skip N]");
        ov::sim::failure_desc f;
        f.call = a.positional[1];
        const auto& calls = ov::sim::store::call_names();
        if (std::find(calls.begin(), calls.end(), f.call) == calls.end()) {
            std::string known;
            for (const auto& c : calls)
                known += " " + c;
            throw usage_error{"unknown call '" + f.call + "'; calls:" + known};
        }
        f.mode = a.value("--mode", "once");
        if (f.mode != "once" && f.mode != "always" && f.mode != "mismatch" && f.mode != "vanish")
            throw usage_error{"--mode must be once, always, mismatch or vanish"};
        if (a.has("--port"))
            f.port = port_number(a.value("--port"));
        if (a.has("--skip"))
            f.skip = static_cast<int>(number("--skip", a.value("--skip"), INT32_MAX));
        if (!s.add_failure(a.positional[0], f, error))
            return failed(error);
        std::printf("%s on %s will fail (%s)\n", f.call.c_str(), a.positional[0].c_str(), f.mode.c_str());
        return 0;
    }
    if (command == "clear-failures") {
        const arguments a = parse(rest, {}, {});
        want_positionals(a, 1, "clear-failures BRIDGE");
        if (!s.clear_failures(a.positional[0], error))
            return failed(error);
        std::printf("cleared the failures of %s\n", a.positional[0].c_str());
        return 0;
    }
    throw usage_error{"unknown command '" + command + "'"};
}

}  // namespace

int main(int argc, char** argv)
{
    // --sim DIR may stand anywhere, before or after the command.
    std::vector<std::string> args;
    std::string root;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--sim" || arg.compare(0, 6, "--sim=") == 0) {
            if (arg == "--sim" && k + 1 >= argc) {
                std::fprintf(stderr, "ovraid-sim: --sim needs a directory\n%s", usage_text);
                return 2;
            }
            root = arg == "--sim" ? argv[++k] : arg.substr(6);
            if (root.empty()) {
                std::fprintf(stderr, "ovraid-sim: --sim needs a directory\n%s", usage_text);
                return 2;
            }
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        std::fputs(usage_text, stderr);
        return 2;
    }
    if (root.empty())
        root = ov::sim::store::default_root();
    ov::sim::store s(root);
    try {
        return run(s, args[0], std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const usage_error& e) {
        std::fprintf(stderr, "ovraid-sim: %s\nrun 'ovraid-sim help' for the commands\n",
                     ov::without_controls(e.message).c_str());
        return 2;
    } catch (const std::exception& e) {
        return failed(e.what());
    }
}

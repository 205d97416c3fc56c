#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <sstream>

#include "posix_io.h"
#include "safety.h"
#include "sim/identify.h"

extern char** environ;

namespace ovtest {

namespace {

std::string notes_of_this_process()
{
    return "/tmp/ovraid-test-notes-" + std::to_string(::getpid());
}

// Set up once per test process: a clock scaled as under ctest when run by hand, and no
// rebuild notes left behind.
class process_environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        // In the environment too: a loaded library has a clock of its own, and the
        // simulated firmware runs in a process of its own.
        if (!std::getenv("OVRAID_TIME_SCALE")) {
            ::setenv("OVRAID_TIME_SCALE", "50", 1);
            ov::set_time_scale(50);
        }
    }
    void TearDown() override { std::remove(notes_of_this_process().c_str()); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new process_environment);

void outline_walk(const ov::treeview::node_list& root, const ov::tree_node* item, int depth, std::string& out)
{
    const int n = ov::treeview::number_of_children(root, item);
    for (int i = 0; i < n; ++i) {
        const ov::tree_node* c = ov::treeview::child(root, i, item);
        if (!c) {
            out += "<null child>\n";
            continue;
        }
        out += std::string(static_cast<size_t>(2 * depth), ' ') + ov::treeview::object_value(c) + "\n";
        outline_walk(root, c, depth + 1, out);
    }
}

// The extents of a file holding data within [0, bytes) (all of it when the file system
// cannot tell holes from data).
std::vector<std::pair<uint64_t, uint64_t>> data_extents(int fd, uint64_t bytes)
{
    std::vector<std::pair<uint64_t, uint64_t>> out;
    for (uint64_t pos = 0; pos < bytes;) {
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

}  // namespace

// ---- the engine and time -------------------------------------------------------------------

void reset_engine()
{
    ov::stop_engine_threads();
    ov::simulate_thread_creation_failure(false);
    ov::j.chips.clear();
    ov::j.controller_map.clear();
    ov::j.current = ov::controller_t{};
    ov::j.warm_boot_pending = false;
    ov::j.tree.cleartree();
    ov::override_architecture(-1);
    ov::set_localizer(nullptr);
    ov::set_waiter(nullptr);
    ov::rebuild_notes::set_path(notes_of_this_process());
    std::remove(ov::rebuild_notes::path().c_str());
}

std::function<void()>& wait_step()
{
    static std::function<void()> step = [] { std::this_thread::sleep_for(1ms); };
    return step;
}

void set_wait_step(std::function<void()> step)
{
    wait_step() = std::move(step);
}

bool eventually(const std::function<bool()>& cond, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        wait_step()();
    }
    return true;
}

bool held(std::mutex& m)
{
    bool taken = false;
    std::thread probe([&] {
        taken = m.try_lock();
        if (taken)
            m.unlock();
    });
    probe.join();
    return !taken;
}

bool registry_mutex_held()
{
    return held(ov::j.mutex);
}

// ---- identities, disks and records ---------------------------------------------------------

ov::controller_t usb_identity(int64_t location, const std::string& serial, uint32_t vendor, uint32_t product)
{
    ov::controller_t id;
    id.vendor_id = vendor;
    id.product_id = product;
    id.location_id = location;
    id.order_key = static_cast<uint64_t>(location);
    id.usb_serial = serial;
    return id;
}

ov::controller_t firewire_identity(uint64_t guid)
{
    ov::controller_t id;
    id.is_firewire = true;
    id.guid = guid;
    id.order_key = guid;
    return id;
}

ov::ovdisk make_disk(const std::string& model, const std::string& serial, uint64_t sectors,
                     const std::string& addressing)
{
    ov::ovdisk d;
    d.initialize(make_identify(model, serial, sectors, addressing).data());
    d.present = true;
    d.register_present = true;
    return d;
}

ov::ovdisk disk_a(uint64_t sectors) { return make_disk("ST2000DM001-1CH164", "Z1E2A3B4", sectors); }
ov::ovdisk disk_b(uint64_t sectors) { return make_disk("WDC WD20EZRX-00D8PB0", "WD-WCC4M0123456", sectors); }
ov::ovdisk disk_c(uint64_t sectors) { return make_disk("Hitachi HDS723030ALA640", "MK0301YHG1AB2C", sectors); }

ov::ovdisk blank_disk(uint64_t capacity, const std::string& model, const std::string& serial)
{
    ov::ovdisk d;
    d.model = model;
    d.serial = serial;
    d.capacity = capacity;
    d.initialize(identify_of(d).data());
    d.capacity = capacity;  // as given, whatever the block decodes to
    d.present = true;
    d.register_present = true;
    return d;
}

ov::ovdisk member_disk(uint32_t mode, uint64_t capacity, uint64_t record_capacity, const std::string& model,
                       const std::string& serial)
{
    ov::ovdisk d = blank_disk(capacity, model, serial);
    d.raid_mode = mode;
    d.record_capacity = record_capacity;
    return d;
}

ov::ovdisk silent_disk()
{
    ov::ovdisk d;
    d.register_present = true;
    return d;
}

ov::raid_info record_for(int mode, int member, uint64_t capacity, const ov::ovdisk& partner, const char* stamp,
                         int flags, bool over_2tb)
{
    return ov::create_raid_struct(mode, member, flags, 0, capacity, partner.serial_raw, partner.model_raw, over_2tb,
                                  stamp16(stamp).bytes);
}

std::vector<call> from_first_write(const std::vector<call>& calls)
{
    const auto first = std::find_if(calls.begin(), calls.end(), [](const call& c) {
        return c.name == "ovSetRaidInfo" || c.name == "ovSetRaidInfoFW";
    });
    return std::vector<call>(first, calls.end());
}

std::string describe(const call& c)
{
    std::string s = c.name;
    if (c.port >= 0)
        s += " " + std::to_string(c.port);
    if (c.name.find("RaidInfo") != std::string::npos)
        s += " " + std::to_string(c.lba);
    return s;
}

std::vector<std::string> describe(const std::vector<call>& calls)
{
    std::vector<std::string> out;
    for (const call& c : calls)
        out.push_back(describe(c));
    return out;
}

std::string outline_text(const ov::treeview::node_list& root)
{
    std::string out;
    outline_walk(root, nullptr, 0, out);
    return out;
}

// ---- disk images and files -----------------------------------------------------------------

std::string random_bytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

std::string read_bytes(const std::string& path, uint64_t offset, size_t n)
{
    std::string s(n, '\0');
    const ov::io::unique_fd fd = ov::io::open_fd(path, O_RDONLY);
    EXPECT_TRUE(fd && ov::io::pread_all(fd.get(), s.data(), n, static_cast<off_t>(offset))) << path;
    return s;
}

void write_bytes(const std::string& path, uint64_t offset, const std::string& data)
{
    const ov::io::unique_fd fd = ov::io::open_fd(path, O_WRONLY);
    ASSERT_TRUE(fd && ov::io::pwrite_all(fd.get(), data.data(), data.size(), static_cast<off_t>(offset))) << path;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

int64_t first_difference(const std::string& a, const std::string& b, uint64_t bytes)
{
    const ov::io::unique_fd fa = ov::io::open_fd(a, O_RDONLY), fb = ov::io::open_fd(b, O_RDONLY);
    EXPECT_TRUE(fa) << a;
    EXPECT_TRUE(fb) << b;
    if (!fa || !fb)
        return 0;
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
            if (const auto at = std::mismatch(ba.begin(), end, bb.begin()).first; at != end)
                return static_cast<int64_t>(off) + (at - ba.begin());
        }
        done = std::max(done, last);
    }
    return -1;
}

std::string tree_digest(const std::string& dir)
{
    std::vector<std::string> lines;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        std::ostringstream line;
        line << path.substr(dir.size()) << " mode " << std::oct << st.st_mode << std::dec << " size " << st.st_size
             << " changed " << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec;
        if (S_ISLNK(st.st_mode)) {
            line << " -> " << std::filesystem::read_symlink(it->path(), ec).string();
        } else if (S_ISREG(st.st_mode)) {
            const ov::io::unique_fd fd = ov::io::open_fd(path, O_RDONLY | O_NONBLOCK);
            size_t h = 0;
            std::string chunk;
            for (const auto& [first, last] : fd ? data_extents(fd.get(), static_cast<uint64_t>(st.st_size))
                                                : std::vector<std::pair<uint64_t, uint64_t>>{}) {
                chunk.resize(static_cast<size_t>(last - first));
                ov::io::pread_all(fd.get(), chunk.data(), chunk.size(), static_cast<off_t>(first));
                h = h * 31 + std::hash<std::string>{}(chunk) + first;
            }
            line << " data " << h;
        }
        lines.push_back(line.str());
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines)
        out += l + "\n";
    return out;
}

program_run run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env, bool merge_errors,
                        const std::function<bool(const std::string&)>& enough, std::chrono::milliseconds limit)
{
    program_run run;
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e)
        environment.emplace_back(*e);
    for (const std::string& change : env) {
        const std::string name = change.substr(0, change.find('=')) + "=";
        std::erase_if(environment, [&](const std::string& e) { return e.starts_with(name); });
        if (change.find('=') != std::string::npos)
            environment.push_back(change);
    }
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return run;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, merge_errors ? out[1] : err[1], 2);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool stopped = spawned != 0;
    // Both pipes are read as they fill, or a chatty program would block on the other one.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&run.output, &run.errors};
    while (spawned == 0 && (fds[0].fd >= 0 || fds[1].fd >= 0)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!stopped && left.count() <= 0) {
            ADD_FAILURE() << argv[0] << " still runs after " << limit.count() << " ms";
            ::kill(pid, SIGTERM);
            stopped = true;
        }
        if (::poll(fds, 2, stopped ? 1000 : static_cast<int>(std::max<int64_t>(left.count(), 1))) < 0 && errno != EINTR)
            break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                into[k]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[k].fd);
                fds[k].fd = -1;
            }
        }
        if (!stopped && enough && enough(run.output)) {
            ::kill(pid, SIGTERM);
            stopped = true;
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << argv[0] << ": " << std::strerror(spawned);
        return run;
    }
    int raw = 0;
    if (::waitpid(pid, &raw, 0) == pid)
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
    return run;
}

sim_tree::~sim_tree()
{
    const std::string log = slurp(root + "/.firmware/log");
    for (const char* word : {"Sanitizer", "runtime error"})
        if (log.find(word) != std::string::npos)
            ADD_FAILURE() << "the simulated firmware's log (" << root << "/.firmware/log):\n" << log;
}

void sim_tree::add_usb(const std::string& name, double rebuild_seconds, bool plugged, int64_t location)
{
    ov::sim::bridge_desc b;
    b.name = name;
    b.location_id = location;
    b.usb_serial = "USB-" + name;
    b.rebuild_seconds = rebuild_seconds;
    b.plugged = plugged;
    ASSERT_TRUE(st.add_bridge(b, error)) << error;
}

void sim_tree::add_firewire(const std::string& name, uint64_t guid, double rebuild_seconds)
{
    ov::sim::bridge_desc b;
    b.name = name;
    b.firewire = true;
    b.guid = guid;
    b.device_name = "FW Volume";
    b.rebuild_seconds = rebuild_seconds;
    ASSERT_TRUE(st.add_bridge(b, error)) << error;
}

void sim_tree::shelf_disk(const std::string& name, uint64_t sectors, const std::string& addressing)
{
    ASSERT_TRUE(st.make_disk(name, {model_prefix + name, "SN-" + name, sectors, addressing, false}, error)) << error;
}

std::string sim_tree::add_disk(const std::string& bridge, int port, const std::string& name, uint64_t sectors,
                               const std::string& addressing)
{
    shelf_disk(name, sectors, addressing);
    EXPECT_TRUE(st.insert_disk(bridge, port, name, error)) << error;
    return st.port_image(bridge, port);
}

std::string sim_tree::write_record(const std::string& bridge, int port, int mode, bool source, uint64_t set_size,
                                   bool name_partner, const char* stamp, int member)
{
    std::array<unsigned char, 512> id;
    EXPECT_TRUE(st.read_identify(st.port_dir(bridge, port), id, error)) << error;
    const uint64_t cap = ov::sim::identify_capacity(id.data());
    std::array<unsigned char, 512> other{};
    std::string ignored;
    if (name_partner)
        st.read_identify(st.port_dir(bridge, 1 - port), other, ignored);
    const stamp16 when(stamp);
    const ov::raid_info r = ov::create_raid_struct(
        mode, member < 0 ? port : member, source ? ov::source_mark : 0, 0, set_size,
        other.data() + ov::identify::serial_offset, other.data() + ov::identify::model_offset,
        set_size >= ov::two_tb_sectors, when.bytes);
    const std::string bytes(reinterpret_cast<const char*>(r.data()), 512);
    write_bytes(st.port_image(bridge, port), (cap - 15) * 512, bytes);
    return bytes;
}

// ---- the engine fixture --------------------------------------------------------------------

void engine_fixture::SetUp()
{
    reset_engine();
    ov::install_library(&lib);
    ov::install_registry(&reg);
    ov::set_ctrller(&window);
}

void engine_fixture::TearDown()
{
    // No engine thread may outlive the fakes it talks to.
    reset_engine();
    lib.on_call = nullptr;
    window.on_request = nullptr;
    ov::install_library(nullptr);
    ov::install_registry(nullptr);
    ov::set_ctrller(nullptr);
}

void engine_fixture::next_case()
{
    ov::stop_engine_threads();
    ov::j.chips.clear();
    ov::j.warm_boot_pending = false;
    lib.clear_calls();
    window.clear();
}

int engine_fixture::add_chip(const ov::ovdisk& d0, const ov::ovdisk& d1, bool firewire, bool make_current)
{
    const int index = static_cast<int>(ov::j.chips.size());
    ov::ovchip c;
    c.service = 0x3000 + static_cast<uint32_t>(index) * 0x10;
    c.identity = firewire ? firewire_identity(0x0030E00000A00000ULL + static_cast<uint64_t>(index))
                          : usb_identity(0x14100000 + index, "SN" + std::to_string(index));
    c.disks[0] = d0;
    c.disks[1] = d1;
    c.connection_open = true;
    // The disks answer IDENTIFY as they did at the scan, so writes find them unchanged.
    for (int port = 0; port < 2; ++port) {
        const ov::ovdisk& d = c.disks[port];
        if (d.present)
            lib.identify[{c.service, port}] = identify_of(d);
        lib.set_register(c.service, port ? ov::reg_port1_presence : ov::reg_port0_presence, d.register_present);
    }
    ov::j.chips.push_back(c);
    if (make_current)
        ov::j.current = c.identity;
    ov::j.setup_controller_map();
    return index;
}

void engine_fixture::identify_in(scripted_library& other, int index)
{
    for (int port = 0; port < 2; ++port)
        if (chip(index).disks[port].present)
            other.identify[{chip(index).service, port}] = identify_of(chip(index).disks[port]);
}

sector engine_fixture::stored(int index, int port, uint64_t lba)
{
    sector s{};
    lib.get_sector(chip(index).service, port, lba, s);
    return s;
}

uint32_t engine_fixture::plug_usb(int32_t location, const std::string& serial)
{
    const uint32_t s = reg.add_usb_bridge(usb_vendor, usb_product, location, serial);
    lib.devices.push_back(s);
    return s;
}

uint32_t engine_fixture::plug_firewire(uint64_t guid)
{
    const uint32_t s = reg.add_firewire_bridge(static_cast<int64_t>(guid));
    lib.devices.push_back(s);
    return s;
}

void engine_fixture::insert_disk(uint32_t service, int port, const std::string& model, const std::string& serial,
                                 uint64_t sectors)
{
    lib.identify[{service, port}] = make_identify(model, serial, sectors);
    lib.set_register(service, port ? ov::reg_port1_presence : ov::reg_port0_presence, 1);
}

void engine_fixture::insert_mirror(uint32_t service, const std::string& model0, const std::string& serial0,
                                   const std::string& model1, const std::string& serial1, uint64_t sectors)
{
    const ov::ovdisk disks[2] = {make_disk(model0, serial0, sectors), make_disk(model1, serial1, sectors)};
    for (int port = 0; port < 2; ++port) {
        insert_disk(service, port, disks[port].model, disks[port].serial, sectors);
        const ov::raid_info r = record_for(ov::mode_raid1, port, sectors - 16, disks[1 - port], "20240102030405");
        lib.set_sector(service, port, sectors - 15, bytes_of(r));
    }
}

// ---- the hot-plug fixture ------------------------------------------------------------------

void hotplug_fixture::SetUp()
{
    engine_fixture::SetUp();
    window.select_like_window = true;
    window.on_request = [this](const std::string& r) { watch(r); };
}

void hotplug_fixture::TearDown()
{
    // The notification thread first: a handling still running may start monitors.
    ov::set_waiter(nullptr);
    stop();
    engine_fixture::TearDown();
    also = nullptr;
}

void hotplug_fixture::enter_engine()
{
    const int d = ++depth;
    int seen = max_depth.load();
    while (d > seen && !max_depth.compare_exchange_weak(seen, d)) {
    }
}

bool hotplug_fixture::on_notifier()
{
    std::lock_guard<std::mutex> lock(id_mutex_);
    return std::this_thread::get_id() == notifier_id_;
}

void hotplug_fixture::watch(const std::string& r)
{
    if (r == "startworking") {
        enter_engine();
        if (!on_notifier())
            ++off_thread;
    } else if (r == "stopworking") {
        leave_engine();
    }
    if (also)
        also(r);
    // What the window's refresh action does: queue a refresh to the notification thread.
    if (r == "refresh")
        ov::request_refresh();
}

void hotplug_fixture::start()
{
    notifier_ = std::thread([this] {
        {
            std::lock_guard<std::mutex> lock(id_mutex_);
            notifier_id_ = std::this_thread::get_id();
        }
        ov::start_device_notification(nullptr);
    });
    ASSERT_TRUE(window.wait_for("stopworking")) << "the first handling never ended";
    settle();
}

void hotplug_fixture::settle()
{
    // A handling may queue another (a look again after a write found a changed disk) behind
    // the marker: go round until a marker passes with no handling ahead of it.
    for (size_t before = window.count("startworking") + 1; before != window.count("startworking");) {
        before = window.count("startworking");
        auto done = std::make_shared<std::promise<void>>();
        auto ran = done->get_future();
        ov::registry().post([done] { done->set_value(); });
        ASSERT_EQ(ran.wait_for(60s), std::future_status::ready) << "notification thread hangs";
        if (&ov::registry() == &reg)
            reg.drain();
    }
}

void hotplug_fixture::stop()
{
    if (!notifier_.joinable())
        return;
    ov::registry().stop_run_loop();
    notifier_.join();
}

std::vector<std::vector<std::string>> hotplug_fixture::handlings() const
{
    std::vector<std::vector<std::string>> out;
    bool open = false;
    for (const std::string& r : window.requests()) {
        if (r == "cleargui" && !open) {
            open = true;
            out.emplace_back();
        }
        if (open)
            out.back().push_back(r);
        if (r == "stopworking")
            open = false;
    }
    if (open)
        out.pop_back();
    return out;
}

}  // namespace ovtest

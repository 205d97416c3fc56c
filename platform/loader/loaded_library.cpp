#include "loaded_library.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "diag.h"
#include "ovraid/bridge.h"
#include "posix_io.h"

namespace ov {

// Typed from the C header itself, so the two cannot drift apart.
struct loaded_library::functions {
    decltype(&::ovraid_bridge_api_version) api_version = nullptr;
    decltype(&::ovraid_bridge_match_table) match_table = nullptr;
    decltype(&::ovraid_bridge_attach) attach = nullptr;
    decltype(&::ovraid_bridge_detach) detach = nullptr;
    decltype(&::getDeviceList) getDeviceList = nullptr;
    decltype(&::openConnection) openConnection = nullptr;
    decltype(&::closeConnection) closeConnection = nullptr;
    decltype(&::ovGetRaidInfo) ovGetRaidInfo = nullptr;
    decltype(&::ovGetRaidInfoFW) ovGetRaidInfoFW = nullptr;
    decltype(&::ovSetRaidInfo) ovSetRaidInfo = nullptr;
    decltype(&::ovSetRaidInfoFW) ovSetRaidInfoFW = nullptr;
    decltype(&::ovFlushHDDCache) ovFlushHDDCache = nullptr;
    decltype(&::ovGetDiskIdentify) ovGetDiskIdentify = nullptr;
    decltype(&::ovGetRegister) ovGetRegister = nullptr;
    decltype(&::ovGetRebuildStatus) ovGetRebuildStatus = nullptr;
    decltype(&::ovWarmBoot) ovWarmBoot = nullptr;
};

static_assert(OVRAID_DEVICE_LIST_CAPACITY == device_list_capacity);
static_assert(OVRAID_REBUILD_STATUS_SIZE == sizeof(rebuild_status));
static_assert(OVRAID_REG_PORT0_PRESENCE == reg_port0_presence && OVRAID_REG_PORT1_PRESENCE == reg_port1_presence);

namespace {

constexpr int call_failed = -1;
constexpr uint32_t max_match_entries = 4096;

// The machine this program runs on; EM_NONE where we do not know it, and then only the
// dynamic loader judges.
constexpr uint16_t host_machine =
#if defined(__x86_64__)
    EM_X86_64;
#elif defined(__i386__)
    EM_386;
#elif defined(__aarch64__)
    EM_AARCH64;
#elif defined(__arm__)
    EM_ARM;
#elif defined(__powerpc64__)
    EM_PPC64;
#elif defined(__powerpc__)
    EM_PPC;
#elif defined(__riscv)
    EM_RISCV;
#elif defined(__s390__)
    EM_S390;
#elif defined(__mips__)
    EM_MIPS;
#elif defined(__loongarch__)
    258;
#else
    EM_NONE;
#endif

constexpr unsigned char host_class = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char host_data =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

std::string machine_name(uint16_t machine)
{
    switch (machine) {
    case EM_X86_64: return "x86-64";
    case EM_386: return "x86";
    case EM_AARCH64: return "AArch64";
    case EM_ARM: return "ARM";
    case EM_PPC64: return "64-bit PowerPC";
    case EM_PPC: return "PowerPC";
    case EM_RISCV: return "RISC-V";
    case EM_S390: return "S/390";
    case EM_MIPS: return "MIPS";
    case 258: return "LoongArch";
    case EM_SPARCV9: return "SPARC V9";
    case EM_IA_64: return "IA-64";
    default: return "machine type " + std::to_string(machine);
    }
}

std::string hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

// Reads the ELF identification and the type and machine fields, which sit at the same
// offsets in 32- and 64-bit files. Empty when the file may be handed to the loader.
std::string judge_elf(const std::string& path)
{
    // Not blocking, and only a regular file: a FIFO in its place must not hold the program.
    io::unique_fd fd = io::open_fd(path, O_RDONLY | O_NONBLOCK);
    if (!fd)
        return io::errno_text(path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return io::errno_text(path);
    if (!S_ISREG(st.st_mode))
        return path + ": not a shared library (not a regular file)";
    static_assert(offsetof(Elf32_Ehdr, e_type) == offsetof(Elf64_Ehdr, e_type) &&
                  offsetof(Elf32_Ehdr, e_machine) == offsetof(Elf64_Ehdr, e_machine));
    unsigned char head[offsetof(Elf32_Ehdr, e_version)] = {};
    size_t got = 0;
    while (got < sizeof head) {
        const ssize_t n = ::read(fd.get(), head + got, sizeof head - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return io::errno_text(path);
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got < sizeof head || std::memcmp(head, ELFMAG, SELFMAG) != 0)
        return path + ": not a shared library (not an ELF file)";
    if ((head[EI_CLASS] != ELFCLASS32 && head[EI_CLASS] != ELFCLASS64) ||
        (head[EI_DATA] != ELFDATA2LSB && head[EI_DATA] != ELFDATA2MSB))
        return path + ": a damaged ELF file (unknown word size or byte order)";
    const auto bits = [](unsigned char c) { return c == ELFCLASS64 ? "64-bit" : "32-bit"; };
    if (head[EI_CLASS] != host_class)
        return path + ": a " + std::string(bits(head[EI_CLASS])) + " library; this program is " + bits(host_class);
    const auto order = [](unsigned char c) { return c == ELFDATA2LSB ? "little-endian" : "big-endian"; };
    if (head[EI_DATA] != host_data)
        return path + ": built for " + order(head[EI_DATA]) + " machines; this program is " + order(host_data);
    // In the host's byte order, now that the file's is known to match.
    uint16_t type, machine;
    std::memcpy(&type, head + offsetof(Elf32_Ehdr, e_type), sizeof type);
    std::memcpy(&machine, head + offsetof(Elf32_Ehdr, e_machine), sizeof machine);
    if (host_machine != EM_NONE && machine != host_machine)
        return path + ": built for " + machine_name(machine) + ", this program is " + machine_name(host_machine);
    if (type != ET_DYN) {
        const std::string what = type == ET_EXEC  ? "a program"
                                 : type == ET_REL ? "an object file (.o)"
                                 : type == ET_CORE ? "a core dump"
                                                   : "an ELF file of type " + std::to_string(type);
        return path + ": " + what + ", not a shared library";
    }
    // Every part the dynamic loader maps must lie inside the file: a half-copied library
    // would otherwise be mapped past its end and bring the program down when touched.
    using ehdr = std::conditional_t<host_class == ELFCLASS64, Elf64_Ehdr, Elf32_Ehdr>;
    using phdr = std::conditional_t<host_class == ELFCLASS64, Elf64_Phdr, Elf32_Phdr>;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const std::string cut = path + ": a truncated library (a part lies beyond the end of the file)";
    ehdr h;
    if (!io::pread_all(fd.get(), &h, sizeof h, 0))
        return cut;
    if (h.e_phentsize != sizeof(phdr) || h.e_phnum == 0 ||
        h.e_phoff + uint64_t{h.e_phnum} * sizeof(phdr) > size ||
        (h.e_shnum != 0 && h.e_shoff + uint64_t{h.e_shnum} * h.e_shentsize > size))
        return cut;
    for (unsigned i = 0; i < h.e_phnum; ++i) {
        phdr ph;
        if (!io::pread_all(fd.get(), &ph, sizeof ph, static_cast<off_t>(h.e_phoff + uint64_t{i} * sizeof ph)))
            return cut;
        if (ph.p_type == PT_LOAD && uint64_t{ph.p_offset} + ph.p_filesz > size)
            return cut;
    }
    return {};
}

// What is wrong with one line of a match table, or "".
std::string judge_match(const ovraid_bridge_match& m)
{
    if (m.bus != OVRAID_BUS_USB && m.bus != OVRAID_BUS_FIREWIRE)
        return "bus " + std::to_string(m.bus) + " is neither USB (1) nor FireWire (2)";
    if (m.vendor == 0)
        return "vendor is 0";
    if (m.bus == OVRAID_BUS_USB && (m.vendor > 0xFFFF || m.product > 0xFFFF))
        return "USB vendor " + hex(m.vendor) + " product " + hex(m.product) + " is wider than 16 bits";
    if (m.bus == OVRAID_BUS_FIREWIRE && m.vendor > 0xFFFFFF)
        return "FireWire vendor " + hex(m.vendor) + " is wider than 24 bits";
    return {};
}

struct dl_closer {
    void operator()(void* handle) const { ::dlclose(handle); }
};

}  // namespace

std::unique_ptr<loaded_library> loaded_library::open(const std::string& given, std::string& error)
{
    // The file checked is the file loaded: a bare name would be searched for by the dynamic
    // loader in its own places, not where it was checked.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(given.c_str(), nullptr), &std::free);
    if (!resolved) {
        error = io::errno_text(given);
        return nullptr;
    }
    // Messages name the library as the user did.
    const std::string file = resolved.get();
    const std::string& path = given;
    error = judge_elf(file);
    if (!error.empty()) {
        error.replace(0, file.size(), path);
        return nullptr;
    }
    std::unique_ptr<void, dl_closer> handle(::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        const char* why = ::dlerror();
        error = path + ": cannot be loaded: " + (why ? why : "unknown reason");
        return nullptr;
    }

    auto fn = std::make_unique<functions>();
    std::string missing;
    const auto find = [&](const char* name, auto& slot) {
        void* p = ::dlsym(handle.get(), name);
        if (p == nullptr)
            missing += (missing.empty() ? "" : ", ") + std::string(name);
        else
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(p);
    };
    find("ovraid_bridge_api_version", fn->api_version);
    find("ovraid_bridge_match_table", fn->match_table);
    find("ovraid_bridge_attach", fn->attach);
    find("ovraid_bridge_detach", fn->detach);
    find("getDeviceList", fn->getDeviceList);
    find("openConnection", fn->openConnection);
    find("closeConnection", fn->closeConnection);
    find("ovGetRaidInfo", fn->ovGetRaidInfo);
    find("ovGetRaidInfoFW", fn->ovGetRaidInfoFW);
    find("ovSetRaidInfo", fn->ovSetRaidInfo);
    find("ovSetRaidInfoFW", fn->ovSetRaidInfoFW);
    find("ovFlushHDDCache", fn->ovFlushHDDCache);
    find("ovGetDiskIdentify", fn->ovGetDiskIdentify);
    find("ovGetRegister", fn->ovGetRegister);
    find("ovGetRebuildStatus", fn->ovGetRebuildStatus);
    find("ovWarmBoot", fn->ovWarmBoot);
    if (!missing.empty()) {
        error = path + ": not a bridge library: it does not export " + missing;
        return nullptr;
    }

    const uint32_t version = fn->api_version();
    if (version != OVRAID_BRIDGE_API_VERSION) {
        error = path + ": speaks interface version " + std::to_string(version) + "; ovraid needs " +
                std::to_string(OVRAID_BRIDGE_API_VERSION);
        return nullptr;
    }

    uint32_t count = 0;
    const ovraid_bridge_match* entries = fn->match_table(&count);
    if (entries == nullptr) {
        error = path + ": gives no match table";
        return nullptr;
    }
    if (count == 0 || count > max_match_entries) {
        error = path + ": its match table has " + std::to_string(count) + " entries (1 to " +
                std::to_string(max_match_entries) + " make sense)";
        return nullptr;
    }
    std::vector<bridge_match> table;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string why = judge_match(entries[i]);
        if (!why.empty()) {
            error = path + ": match table entry " + std::to_string(i) + ": " + why;
            return nullptr;
        }
        table.push_back({entries[i].bus == OVRAID_BUS_FIREWIRE, entries[i].vendor, entries[i].product});
    }

    std::unique_ptr<loaded_library> lib(new loaded_library(path, handle.release()));
    lib->fn_ = std::move(fn);
    lib->table_ = std::move(table);
    error.clear();
    return lib;
}

loaded_library::loaded_library(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}

loaded_library::~loaded_library()
{
    ::dlclose(handle_);
}

int loaded_library::refuse(const char* call, const std::string& why) const
{
    diag(diag_level::warning, path_ + ": " + call + " not passed on: " + why);
    return call_failed;
}

int loaded_library::attach(uint32_t service, const std::string& syspath, const std::string& devnode)
{
    std::lock_guard<std::mutex> lock(binding_m_);
    const int rc = fn_->attach(service, syspath.c_str(), devnode.c_str());
    if (rc == 0)
        attached_.insert(service);
    return rc;
}

void loaded_library::detach(uint32_t service)
{
    std::lock_guard<std::mutex> lock(binding_m_);
    attached_.erase(service);
    fn_->detach(service);
}

int loaded_library::getDeviceList(uint32_t* handles, uint32_t* count)
{
    if (handles == nullptr || count == nullptr)
        return refuse("getDeviceList", "no list to fill");
    std::lock_guard<std::mutex> lock(binding_m_);
    *count = 0;
    const int rc = fn_->getDeviceList(handles, count);
    if (*count > static_cast<uint32_t>(device_list_capacity)) {
        diag(diag_level::warning, path_ + ": getDeviceList listed " + std::to_string(*count) +
                                      " devices; only the first " + std::to_string(device_list_capacity) +
                                      " count");
        *count = device_list_capacity;
    }
    if (rc != 0)
        return rc;
    // The registry owns the handles: one it never attached (or a slot the library left
    // unwritten) is no bridge, and no call may reach it.
    uint32_t kept = 0;
    std::string dropped;
    for (uint32_t i = 0; i < *count; ++i) {
        const bool known = attached_.count(handles[i]) != 0 && std::find(handles, handles + kept, handles[i]) == handles + kept;
        if (known)
            handles[kept++] = handles[i];
        else if (dropped.size() < 200)
            dropped += (dropped.empty() ? "" : ", ") + std::to_string(handles[i]);
    }
    if (!dropped.empty())
        diag(diag_level::warning, path_ + ": getDeviceList listed handles it was never given (or twice): " + dropped);
    *count = kept;
    return 0;
}

int loaded_library::openConnection(uint32_t service)
{
    return fn_->openConnection(service);
}

int loaded_library::closeConnection(uint32_t service)
{
    return fn_->closeConnection(service);
}

namespace {

// Why a sector call cannot be passed on, or "".
std::string sector_args(const void* buffer, int length, int port, int addressing)
{
    if (buffer == nullptr)
        return "no buffer";
    if (length < OVRAID_SECTOR_SIZE)
        return "a buffer of " + std::to_string(length) + " bytes, short of a sector";
    if (port != 0 && port != 1)
        return "no port " + std::to_string(port);
    if (addressing != 0 && addressing != 1)
        return "addressing " + std::to_string(addressing) + " is neither 28-bit (0) nor 48-bit (1)";
    return {};
}

}  // namespace

int loaded_library::ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port,
                                  int addressing)
{
    const std::string why = sector_args(buffer, length, port, addressing);
    if (!why.empty())
        return refuse("ovGetRaidInfo", why);
    return fn_->ovGetRaidInfo(service, buffer, length, lba, port, addressing);
}

int loaded_library::ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port)
{
    const std::string why = sector_args(buffer, length, port, 1);
    if (!why.empty())
        return refuse("ovGetRaidInfoFW", why);
    return fn_->ovGetRaidInfoFW(service, buffer, length, lba, port);
}

int loaded_library::ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port,
                                  int addressing)
{
    const std::string why = sector_args(record, length, port, addressing);
    if (!why.empty())
        return refuse("ovSetRaidInfo", why);
    return fn_->ovSetRaidInfo(service, record, length, lba, port, addressing);
}

int loaded_library::ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba,
                                    int port)
{
    const std::string why = sector_args(record, length, port, 1);
    if (!why.empty())
        return refuse("ovSetRaidInfoFW", why);
    return fn_->ovSetRaidInfoFW(service, record, length, lba, port);
}

int loaded_library::ovFlushHDDCache(uint32_t service, int port)
{
    if (port != 0 && port != 1)
        return refuse("ovFlushHDDCache", "no port " + std::to_string(port));
    return fn_->ovFlushHDDCache(service, port);
}

int loaded_library::ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port)
{
    const std::string why = sector_args(buffer, length, port, 1);
    if (!why.empty())
        return refuse("ovGetDiskIdentify", why);
    return fn_->ovGetDiskIdentify(service, buffer, length, port);
}

int loaded_library::ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count, uint32_t address)
{
    if (buffer == nullptr || count < 1 || length < count)
        return refuse("ovGetRegister", "count " + std::to_string(count) + " in a buffer of " +
                                           std::to_string(buffer ? length : 0) + " bytes");
    return fn_->ovGetRegister(service, buffer, length, count, address);
}

int loaded_library::ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length)
{
    if (buffer == nullptr || length < OVRAID_REBUILD_STATUS_SIZE)
        return refuse("ovGetRebuildStatus", "a buffer of " + std::to_string(buffer ? length : 0) +
                                                " bytes, short of the 12-byte status");
    return fn_->ovGetRebuildStatus(service, buffer, length);
}

int loaded_library::ovWarmBoot(uint32_t service)
{
    return fn_->ovWarmBoot(service);
}

}  // namespace ov

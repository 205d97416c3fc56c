#include "panel.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "ata_identify.h"
#include "numbers.h"
#include "ovchip.h"
#include "requests.h"
#include "safety.h"

namespace ov {

namespace {

text_piece key(const char* k, std::vector<std::string> args = {})
{
    return text_piece{k, std::move(args), false};
}

text_piece literal(const std::string& s)
{
    return text_piece{s, {}, true};
}

// The characters up to the first NUL, as every text the engine hands over.
std::string up_to_nul(const std::string& s)
{
    return std::string(s.c_str());
}

const char* const captions[2] = {"disk_1", "disk_2"};

// A lone half is one only when its partner port is truly empty and it holds a whole set.
bool lone_half(const ovchip& chip, int port)
{
    const ovdisk& disk = chip.disks[port];
    return disk.present && disk.degrade_needed && !disk.incomplete_copy && !chip.partner_unknown(port == 1);
}

disk_view view_of(const ovchip& chip, int port, bool decimal, panel_actions& actions)
{
    disk_view v;
    const ovdisk& disk = chip.disks[port];
    const bool configured = chip.raid_configured;
    if (disk.present) {
        v.model = {literal(disk.model)};
        v.serial = {literal(disk.serial)};
        v.size = {literal(physical_size_text(disk.capacity, decimal))};
        v.size_detail = size_detail(disk.capacity);
    }
    if (unknown_disk(chip, port)) {
        // Nothing about it is known, so nothing is offered for it.
        v.mode = v.rebuild_mode = {key("disk_silent")};
        if (!configured) {
            v.picture = true;
            v.caption = {key(captions[port])};
            v.picture_mode = v.mode;
        }
        return v;
    }
    if (!disk.present)
        return v;
    v.rebuild_mode = {key(mode_key(disk.raid_mode))};
    panel_text t = v.rebuild_mode;
    if (disk.partner_mismatch)
        t.push_back(key("broken"));
    if (disk.incomplete_copy)
        t.push_back(key("incomplete_copy", {disk.copy_source_serial}));
    else if (disk.raid_mode == mode_raid1 && !configured && !chip.partner_unknown(port == 1))
        t.push_back(key("degrade"));
    if (configured && chip.rebuilding)
        t.push_back(key(disk.rebuild_flag ? "rebuild_source" : "rebuild_target"));
    v.mode = t;
    if (disk.raid1_role == 1)
        v.marker = {key("old")};
    else if (disk.raid1_role == 2)
        v.marker = {key("new")};
    else if (disk.incomplete_copy)
        // The marker's room holds the whole warning; the mode text beside the picture does not.
        v.marker = {key("incomplete_copy_marker", {disk.copy_source_serial})};
    actions.rebuild[port] = rebuild_offered(chip, port);
    actions.clear[port] = member_mode(disk.raid_mode) && !configured;
    if (!configured) {
        v.picture = true;
        v.caption = {key(captions[port])};
        const uint64_t shown = member_mode(disk.raid_mode) ? disk.record_capacity : disk.capacity;
        v.capacity = {literal(capacity_text(shown, decimal))};
        v.capacity_detail = size_detail(shown);
        if (disk.raid_mode != 0)
            v.picture_mode = disk.incomplete_copy ? v.rebuild_mode : t;
    }
    return v;
}

}  // namespace

std::string render(const panel_text& text)
{
    return render(text, [](const std::string& k) { return localized(k); });
}

std::string render(const panel_text& text, const lookup_fn& lookup)
{
    std::string out;
    for (const text_piece& piece : text) {
        if (piece.literal) {
            out += up_to_nul(piece.key);
            continue;
        }
        // One pass, so a model or serial that itself reads "%2" stays as it is.
        const std::string text = up_to_nul(lookup(piece.key));
        for (size_t at = 0; at < text.size(); ++at) {
            const char next = at + 1 < text.size() ? text[at + 1] : '\0';
            if (text[at] == '%' && next >= '1' && next <= '9') {
                const size_t arg = static_cast<size_t>(next - '1');
                if (arg < piece.args.size())
                    out += up_to_nul(piece.args[arg]);
                ++at;
            } else {
                out += text[at];
            }
        }
    }
    return out;
}

std::string physical_size_text(uint64_t sectors, bool decimal)
{
    return inttostring(decimal ? sectors * 512 / 1000000000ULL : sectors / 2097152ULL) + " GB";
}

std::string capacity_text(uint64_t sectors, bool decimal)
{
    const uint64_t g = sectors * 512 / 1000000000ULL;
    if (!decimal || g < 1000)
        return physical_size_text(sectors, decimal);
    return decimal_text(static_cast<double>(g) / 1000.0, 2) + " TB";
}

const char* mode_key(uint32_t mode)
{
    switch (mode) {
    case mode_raid0:
        return "raid_0";
    case mode_raid1:
        return "raid_1";
    case mode_span:
        return "span";
    default:
        return "not_config";
    }
}

bool member_mode(uint32_t mode)
{
    return mode == mode_raid0 || mode == mode_raid1 || mode == mode_span;
}

uint32_t mode_of_row(int row)
{
    const uint32_t modes[mode_rows] = {mode_raid0, mode_raid1, mode_span, mode_none};
    return row >= 0 && row < mode_rows ? modes[row] : mode_none;
}

bool unknown_disk(const ovchip& chip, int port)
{
    // The rule is the one the engine applies to a partner, seen from the other port.
    return chip.partner_unknown(port == 0);
}

bool pair_writable(const ovchip& chip)
{
    return chip.disks[0].present && chip.disks[1].present && !unknown_disk(chip, 0) && !unknown_disk(chip, 1);
}

bool rebuild_running(const ovchip& chip)
{
    return chip.rebuilding || chip.polling;
}

bool superseded_half(const ovchip& chip, int port, std::string& partner)
{
    const ovdisk& disk = chip.disks[port];
    if (!disk.present || disk.raid_mode != mode_raid1)
        return false;
    // Judged from the notes when the records were read, as every other role is.
    if (!disk.superseded)
        return false;
    partner = disk.partner_serial_text();
    return true;
}

bool rebuild_offered(const ovchip& chip, int source)
{
    const ovdisk& disk = chip.disks[source];
    const ovdisk& other = chip.disks[1 - source];
    // The target must hold the whole set and, beyond it, its own record; a partial copy
    // is never a source.
    return disk.present && !unknown_disk(chip, source) && disk.raid_mode == mode_raid1 && other.present &&
           !unknown_disk(chip, 1 - source) && !disk.incomplete_copy && chip.notes_error.empty() && !chip.polling &&
           !chip.raid_configured &&
           other.capacity >= 16 && disk.record_capacity <= other.capacity - 16;
}

bool mode_conflict(const ovchip& chip)
{
    const auto has_record = [](const ovdisk& d) { return d.raid_mode >= 1 && d.raid_mode <= 4; };
    return pair_writable(chip) && !chip.raid_configured && (has_record(chip.disks[0]) || has_record(chip.disks[1]));
}

bool rebuild_tab_allowed(const ovchip* chip)
{
    return chip && chip->raid1_pair_present;
}

namespace {

// Why each closed action is closed: the rules of refusal(), the same the commands obey.
action_reasons reasons_of(const ovchip& chip, const panel_actions& open, int row)
{
    action_reasons why;
    const auto closed = [](bool is_open, panel_text reason) -> panel_text {
        if (is_open)
            return {};
        // A rule of the panel that refusal() does not know of must still say something.
        return reason.empty() ? panel_text{key("refuse_not_now")} : reason;
    };
    const uint32_t mode = mode_of_row(row);
    why.create = closed(open.create, mode == mode_none ? panel_text{key("refuse_choose_type")}
                                                       : refusal(chip, command::create, 0, mode));
    why.remove = closed(open.remove, refusal(chip, command::remove));
    why.restart = closed(open.restart, refusal(chip, command::restart));
    for (int port = 0; port < 2; ++port) {
        why.clear[port] = closed(open.clear[port], refusal(chip, command::clear_disk, port));
        why.rebuild[port] = closed(open.rebuild[port], refusal(chip, command::rebuild, port));
    }
    return why;
}

}  // namespace

panel_state panel_of(const ovchip* chip, const panel_options& options)
{
    panel_state p;
    if (!chip) {
        const panel_text none{key("refuse_no_enclosure")};
        p.closed = {none, none, none, {none, none}, {none, none}};
        return p;
    }
    p.chip = true;
    p.actions.restart = true;
    for (int port = 0; port < 2; ++port)
        p.disks[port] = view_of(*chip, port, options.decimal, p.actions);
    const bool writable = pair_writable(*chip);
    const ovdisk& d0 = chip->disks[0];
    const ovdisk& d1 = chip->disks[1];
    if (chip->raid_configured) {
        p.actions.remove = writable;
        p.disks[0].picture = true;
        p.disks[0].capacity = {literal(capacity_text(chip->raid_capacity, options.decimal))};
        p.set_mode = {key(mode_key(chip->raid_mode))};
        if (chip->rebuilding)
            p.set_mode.push_back(key("rebuilding"));
    }
    // A followed copy closes create, except over a configured set.
    p.actions.create = writable && (chip->raid_configured || !chip->polling) && mode_of_row(options.row) != mode_none;
    if (lone_half(*chip, 0) || lone_half(*chip, 1))
        p.notices.push_back("raid1_degrade_mode");
    if (mode_conflict(*chip))
        p.notices.push_back("raid_info_conflict");
    p.rebuild_tab = chip->polling || (!chip->raid_configured && d0.present && d1.present &&
                                      (d0.raid_mode == mode_raid1 || d1.raid_mode == mode_raid1));
    p.follow_rebuild = chip->polling;
    if (chip->polling)
        p.rebuild_mark = d0.rebuild_flag ? 0 : 1;
    p.closed = reasons_of(*chip, p.actions, options.row);
    if (chip->raid_configured)
        p.disks[0].capacity_detail = size_detail(chip->raid_capacity);
    return p;
}

question question_before(const ovchip& chip, command c, int port)
{
    const question erases{{key("all_data_lost")}, false};
    switch (c) {
    case command::create:
        return erases;
    case command::clear_disk:
        // Names the one disk that is wiped, before the words every erasing question has.
        return {{key("clear_disk_question", {std::to_string(port + 1), chip.disks[port].model,
                                             chip.disks[port].serial}),
                 literal("\n\n"), key("all_data_lost")},
                false};
    case command::remove:
        // Deleting under a running rebuild stops it: asked for explicitly, and No by default.
        return rebuild_running(chip) ? question{{key("delete_stops_rebuild")}, true} : erases;
    case command::restart:
        return rebuild_running(chip) ? question{{key("restart_stops_rebuild")}, true} : question{};
    case command::rebuild:
        break;
    }
    // Copying the returning disk over the member that stayed in the set loses the newer data.
    const int target = 1 - port;
    if (chip.disks[port].diverged)
        return {{key("rebuild_from_diverged", {std::to_string(port + 1), std::to_string(target + 1)})}, true};
    if (chip.disks[port].raid1_role == 2 && chip.disks[target].raid1_role == 1)
        return {{key("rebuild_from_older", {std::to_string(port + 1), std::to_string(target + 1)})}, true};
    // The same when the newer member is not here to compare stamps with: its rebuild, noted
    // after this disk's record was written, says it went on without this disk. Copying from
    // here would also stamp the older data as the newest.
    std::string partner;
    if (superseded_half(chip, port, partner))
        return {{key("rebuild_from_superseded",
                     {std::to_string(port + 1), partner, std::to_string(target + 1)})},
                true};
    return {{key(port == 0 ? "disk1_to_disk2" : "disk2_to_disk1")}, false};
}

panel_text failure_of(command c, const write_report& report)
{
    const std::string why = failure_text(report);
    const char* first = nullptr;
    switch (c) {
    case command::create:
        first = "raid_create_error";
        break;
    case command::remove:
        first = "raid_delete_error";
        break;
    case command::clear_disk:
        first = "raid_info_delete_error";
        break;
    case command::rebuild:
        // The plain refusal names its reason; any other failure is said by the engine.
        first = report.fault != write_fault::none ? "rebuild_not_started" : "rebuild_error";
        break;
    case command::restart:
        return {literal(why)};
    }
    panel_text text{key(first)};
    if (!up_to_nul(why).empty())
        text.push_back(literal("\n\n" + why));
    return text;
}

namespace {

std::string bay_number(int port)
{
    return std::to_string(port + 1);
}

// A shortfall in MiB: a tenth where it is small, so a few sectors never read as 0.
std::string mib_text(uint64_t sectors)
{
    const double mib = static_cast<double>(sectors) * 512 / 1048576;
    return decimal_text(mib, mib < 10 ? 1 : 0);
}

// What keeps a bay from taking part in a write: nothing there, or a disk not known.
panel_text bay_refusal(const ovchip& chip, int port)
{
    const ovdisk& disk = chip.disks[port];
    if (!disk.present)
        return {key(disk.register_present ? "refuse_bay_silent" : "refuse_bay_empty", {bay_number(port)})};
    if (disk.record_unknown)
        return {key("refuse_bay_unreadable", {bay_number(port)})};
    return {};
}

}  // namespace

panel_text refusal(const ovchip& chip, command c, int port, uint32_t mode)
{
    const auto pair = [&]() -> panel_text {
        for (int p = 0; p < 2; ++p)
            if (panel_text why = bay_refusal(chip, p); !why.empty())
                return why;
        return {};
    };
    switch (c) {
    case command::create: {
        if (!member_mode(mode))
            return {key("refuse_mode")};
        if (panel_text why = pair(); !why.empty())
            return why;
        if (chip.polling && !chip.raid_configured)
            return {key("refuse_rebuild_running")};
        uint64_t size = 0, lba = 0;
        if (!ovchip::set_size(static_cast<int>(mode), chip.disks[0].capacity, chip.disks[1].capacity, size) ||
            !chip.disks[0].record_lba(lba) || !chip.disks[1].record_lba(lba))
            return {key("refuse_too_small")};
        return {};
    }
    case command::remove:
        if (!chip.raid_configured) {
            // A bay that does not answer may hold the other half: no clear is advised beside it.
            for (int p = 0; p < 2; ++p)
                if (const ovdisk& d = chip.disks[p]; (!d.present && d.register_present) || d.record_unknown)
                    return bay_refusal(chip, p);
            // A half of a set is not a set: what is left of it goes with its bay's clear.
            for (int p = 0; p < 2; ++p)
                if (chip.disks[p].present && member_mode(chip.disks[p].raid_mode))
                    return {key("refuse_set_incomplete", {bay_number(p)})};
            return {key("refuse_no_set")};
        }
        return pair();
    case command::clear_disk: {
        if (panel_text why = bay_refusal(chip, port); !why.empty())
            return why;
        if (chip.raid_configured)
            return {key("refuse_in_set", {bay_number(port)})};
        if (!member_mode(chip.disks[port].raid_mode))
            return {key("refuse_no_record", {bay_number(port)})};
        return {};
    }
    case command::rebuild: {
        const int target = 1 - port;
        const ovdisk& source = chip.disks[port];
        const ovdisk& other = chip.disks[target];
        if (panel_text why = bay_refusal(chip, port); !why.empty())
            return why;
        if (source.raid_mode != mode_raid1)
            return {key("refuse_not_half", {bay_number(port)})};
        if (panel_text why = bay_refusal(chip, target); !why.empty())
            return why;
        if (source.incomplete_copy)
            return {key("refuse_partial_source", {bay_number(port), source.copy_source_serial})};
        if (!chip.notes_error.empty())
            return {key("refuse_notes_unreadable", {chip.notes_error})};
        if (chip.polling)
            return {key("refuse_rebuild_running")};
        if (chip.raid_configured)
            return {key("refuse_mirror_whole")};
        // Without overflow: a record may claim any size, and one near 2^64 must not pass.
        const uint64_t room = other.capacity >= 16 ? other.capacity - 16 : 0;
        if (other.capacity < 16 || source.record_capacity > room) {
            const uint64_t beyond = source.record_capacity - room;
            const uint64_t below = other.capacity < 16 ? 16 - other.capacity : 0;
            const uint64_t short_by = beyond > UINT64_MAX - below ? UINT64_MAX : beyond + below;
            return {key("refuse_target_small", {bay_number(target), grouped(short_by)}),
                    key("refuse_mib", {mib_text(short_by)})};
        }
        return {};
    }
    case command::restart:
        return {};
    }
    return {};
}

std::optional<double> progress_percent(uint64_t total, uint64_t current, bool final)
{
    if (total == 0)
        return std::nullopt;
    const uint64_t product = current * 100;
    if (product / total > 200)
        return std::nullopt;
    const double percent = static_cast<double>(product) / static_cast<double>(total);
    return percent >= 99.0 && !final ? 99.0 : percent;
}

std::string percent_text(double percent)
{
    return decimal_text(percent, 1) + current_number_format().percent_suffix;
}

std::string controller_entry(const ovchip& chip)
{
    std::string text = chip.get_raid_name() + " ";
    if (chip.identity.is_firewire)
        return text + " (GUID: " + inttohexstring(static_cast<int64_t>(chip.identity.guid), 0) + ")";
    return text + " (S/N: " + chip.identity.usb_serial + ")";
}

panel_text enclosure_name(const controller_t& identity)
{
    if (identity.is_firewire) {
        char guid[24];
        std::snprintf(guid, sizeof guid, "%016llX", static_cast<unsigned long long>(identity.guid));
        return {key("enclosure_firewire", {guid})};
    }
    return {key("enclosure_usb", {identity.usb_serial})};
}

panel_text bay_disk(int port, const std::string& model, const std::string& serial)
{
    return {key("bay_disk", {bay_number(port), model, serial})};
}

panel_text size_detail(uint64_t sectors)
{
    // A corrupt record may claim more sectors than bytes can count: the sectors alone then.
    if (sectors > UINT64_MAX / 512)
        return {key("size_detail_sectors", {grouped(sectors)})};
    return {key("size_detail", {grouped(sectors * 512), grouped(sectors)})};
}

}  // namespace ov

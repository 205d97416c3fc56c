#include "report.h"

#include <algorithm>
#include <cstdio>

#include "ata_identify.h"
#include "json.h"
#include "panel.h"
#include "texts.h"
#include "version.h"

namespace ov::cli {

namespace {

std::string mode_name(uint32_t mode)
{
    switch (mode) {
    case mode_none: return "none";
    case mode_raid0: return "raid0";
    case mode_raid1: return "raid1";
    case mode_span: return "span";
    default: return "mode" + std::to_string(mode);
    }
}

std::string size_words(uint64_t sectors)
{
    return tr("ctl_size", capacity_text(sectors, true), std::to_string(sectors));
}

const char* addressing_name(uint32_t mode)
{
    switch (mode) {
    case addressing_lba48: return "lba48";
    case addressing_lba28: return "lba28";
    default: return "chs";
    }
}

const char* content_name(bay_content c)
{
    switch (c) {
    case bay_content::empty: return "empty";
    case bay_content::silent: return "not_responding";
    case bay_content::unknown: return "record_unreadable";
    case bay_content::disk: return "disk";
    }
    return "empty";
}

// -1 shows every controller; a controller named that is not there (-2) shows none.
bool shown(int index, int only)
{
    return only == -1 || index == only;
}

// The words that say what a state means for this controller's set.
std::string state_words(const controller_view& c)
{
    const chip_summary& s = c.summary;
    if (s.state != chip_state::broken)
        return tr(state_key(s.state));
    for (const bay_summary& bay : s.bays)
        if (bay.record_mode == mode_raid0 || bay.record_mode == mode_span)
            return tr(bay.record_mode == mode_raid0 ? "state_broken_stripe" : "state_broken_span");
    for (const bay_summary& bay : s.bays)
        if (bay.incomplete_copy)
            return tr("state_broken_partial");
    return tr("state_broken_mismatch");
}

}  // namespace

std::string mode_words(uint32_t mode)
{
    if (mode != mode_none && !member_mode(mode))
        return tr("ctl_mode_other", std::to_string(mode));
    return tr(mode_key(mode));
}

std::string printable_text(const std::string& text)
{
    std::string out = text;
    for (char& ch : out)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            ch = '?';
    return out;
}

int severity(const snapshot& s, int only)
{
    int worst = 0;
    for (size_t i = 0; i < s.controllers.size(); ++i)
        if (shown(static_cast<int>(i), only))
            worst = std::max(worst, state_severity(s.controllers[i].summary.state));
    // An enclosure left out may be in any state: unknown, unless one shown is already broken.
    if (only < 0 && s.unreadable > 0 && worst < 2)
        worst = 3;
    return worst;
}

std::string bay_words(int bay)
{
    return tr("ctl_bay", std::to_string(bay));
}

std::string bus_words(const controller_view& c)
{
    const controller_t& id = c.identity;
    if (id.is_firewire)
        return tr("ctl_firewire", c.name);
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04X:%04X", id.vendor_id & 0xffff, id.product_id & 0xffff);
    return tr("ctl_usb", ids, printable_text(c.name));
}

std::string disk_words(const bay_summary& bay, bool say_current)
{
    switch (bay.content) {
    case bay_content::empty: return tr("ctl_bay_empty");
    case bay_content::silent: return tr("ctl_bay_silent");
    case bay_content::unknown:
        return tr("ctl_bay_unreadable", printable_text(bay.model), printable_text(bay.serial));
    case bay_content::disk: break;
    }
    std::string text = tr("ctl_disk", printable_text(bay.model), printable_text(bay.serial)) + ", " +
                       size_words(bay.sectors) + ", " + tr((std::string("ctl_") + addressing_name(bay.addressing)).c_str()) +
                       ", " + tr("ctl_record", mode_words(bay.record_mode));
    if (bay.rebuild_source)
        text += ", " + tr("ctl_copy_source");
    if (bay.rebuild_target)
        text += ", " + tr("ctl_copy_target");
    if (say_current && bay.current_data && !bay.rebuild_source)
        text += ", " + tr("ctl_current_data");
    if (bay.incomplete_copy)
        text += ", " + tr("ctl_incomplete_copy", printable_text(bay.copy_source_serial));
    return text;
}

std::string rebuild_line(const rebuild_view& r)
{
    std::string text = tr("ctl_rebuild_direction", bay_words(r.source_bay), bay_words(r.target_bay));
    if (!r.known)
        return text + ": " + tr("ctl_rebuild_unknown");
    text += ": " + percent_text(r.percent.value_or(0));
    if (r.complete)
        return text + ", " + tr("ctl_rebuild_complete");
    if (r.bytes_per_second)
        text += ", " + speed_text(*r.bytes_per_second);
    if (r.seconds_left)
        text += ", " + tr("ctl_time_left", duration_text(*r.seconds_left));
    return text;
}

std::string status_text(const snapshot& s, int only)
{
    // Left out, they must not read as absent: the reasons went to standard error.
    const std::string unread =
        only < 0 && s.unreadable > 0 ? tr("ctl_unreadable_enclosures", std::to_string(s.unreadable)) + "\n" : "";
    if (s.controllers.empty())
        return (unread.empty() ? tr("ctl_no_enclosure") + "\n" : unread);
    std::string out;
    for (size_t i = 0; i < s.controllers.size(); ++i) {
        if (!shown(static_cast<int>(i), only))
            continue;
        const controller_view& c = s.controllers[i];
        const chip_summary& sum = c.summary;
        if (!out.empty())
            out += "\n";
        out += tr("ctl_controller", std::to_string(c.number), bus_words(c)) + "\n";
        out += "  " + tr("ctl_state_label") + " " + state_words(c) + "\n";
        if (sum.set_mode != mode_none)
            out += "  " + tr("ctl_set_label") + " " + mode_words(sum.set_mode) + ", " + size_words(sum.set_sectors) +
                   "\n";
        if (c.rebuild) {
            out += "  " + tr("ctl_rebuild_label") + " " + rebuild_line(*c.rebuild) + "\n";
            // The bridge has copied everything; the marks stay until someone who follows the
            // copy clears them, which a look never does.
            if (c.rebuild->complete)
                out += "    " + tr("ctl_rebuild_to_finish", printable_text(c.name)) + "\n";
        }
        for (const bay_summary& bay : sum.bays) {
            out += "  " + bay_words(bay.bay) + ": " + disk_words(bay, sum.current_bay != 0) + "\n";
            for (record_warning w : bay.warnings)
                out += "    " + tr("ctl_warning", tr(warning_key(w))) + "\n";
        }
    }
    return out + (unread.empty() || out.empty() ? unread : "\n" + unread);
}

void rebuild_fields(json& out, const rebuild_view& r)
{
    out.field("source_bay", r.source_bay).field("target_bay", r.target_bay);
    if (r.known)
        out.field("total_sectors", r.total).field("current_sectors", r.current);
    else
        out.key("total_sectors").null().key("current_sectors").null();
    out.field("percent", r.percent).field("bytes_per_second", r.bytes_per_second);
    out.field("seconds_left", r.seconds_left).field("complete", r.complete);
}

std::string status_json(const snapshot& s, const std::string& backend, int only)
{
    json out;
    out.begin_object().field("schema_version", schema_version).field("program", "ovraidctl");
    out.field("version", OVRAID_VERSION).field("backend", backend);
    out.field("severity", severity(s, only)).field("unreadable_enclosures", only < 0 ? s.unreadable : 0);
    out.key("controllers").begin_array();
    for (size_t i = 0; i < s.controllers.size(); ++i) {
        if (!shown(static_cast<int>(i), only))
            continue;
        const controller_view& c = s.controllers[i];
        const chip_summary& sum = c.summary;
        out.begin_object().field("number", c.number).field("name", c.name);
        out.field("bus", c.identity.is_firewire ? "firewire" : "usb");
        if (c.identity.is_firewire) {
            out.key("guid").value(c.name);
        } else {
            out.field("vendor_id", c.identity.vendor_id).field("product_id", c.identity.product_id);
            out.field("serial", c.identity.usb_serial).field("location_id", c.identity.location_id);
        }
        out.field("presents", c.presents);
        out.field("state", state_name(sum.state)).field("state_text", state_words(c));
        out.field("severity", state_severity(sum.state));
        out.key("set");
        if (sum.set_mode == mode_none) {
            out.null();
        } else {
            out.begin_object().field("mode", mode_name(sum.set_mode)).field("size_sectors", sum.set_sectors);
            out.field("size_bytes", sum.set_sectors * 512).end_object();
        }
        out.key("current_data_bay");
        if (sum.current_bay != 0)
            out.value(sum.current_bay);
        else
            out.null();
        out.key("rebuild");
        if (c.rebuild) {
            out.begin_object();
            rebuild_fields(out, *c.rebuild);
            out.end_object();
        } else {
            out.null();
        }
        out.key("bays").begin_array();
        for (const bay_summary& bay : sum.bays) {
            out.begin_object().field("bay", bay.bay).field("content", content_name(bay.content));
            if (bay.content == bay_content::disk || bay.content == bay_content::unknown) {
                out.field("model", bay.model).field("serial", bay.serial);
                out.field("size_sectors", bay.sectors).field("size_bytes", bay.sectors * 512);
                out.field("addressing", addressing_name(bay.addressing));
            }
            if (bay.content == bay_content::disk) {
                out.field("record_mode", mode_name(bay.record_mode)).field("current_data", bay.current_data);
                out.key("rebuild_role");
                if (bay.rebuild_source || bay.rebuild_target)
                    out.value(bay.rebuild_source ? "source" : "target");
                else
                    out.null();
                out.field("incomplete_copy", bay.incomplete_copy);
                out.key("copy_source_serial");
                if (bay.incomplete_copy)
                    out.value(bay.copy_source_serial);
                else
                    out.null();
                out.key("warnings").begin_array();
                for (record_warning w : bay.warnings)
                    out.begin_object().field("code", warning_name(w)).field("text", tr(warning_key(w))).end_object();
                out.end_array();
            }
            out.end_object();
        }
        out.end_array().end_object();
    }
    out.end_array().end_object();
    return out.text();
}

std::string check_line(const snapshot& s, int only)
{
    const char* words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    const int worst = severity(s, only);
    std::string detail;
    int count = 0;
    for (size_t i = 0; i < s.controllers.size(); ++i) {
        if (!shown(static_cast<int>(i), only))
            continue;
        ++count;
        const controller_view& c = s.controllers[i];
        // The healthy ones are counted, the others named.
        if (state_severity(c.summary.state) == 0 && worst > 0)
            continue;
        if (!detail.empty())
            detail += "; ";
        detail += tr("ctl_check_entry", std::to_string(c.number) + " (" + printable_text(c.name) + ")", state_words(c));
        if (c.rebuild && c.rebuild->percent)
            detail += " " + percent_text(*c.rebuild->percent);
    }
    if (count == 0 && (only >= 0 || s.unreadable == 0))
        detail = tr("ctl_no_enclosure");
    if (only < 0 && s.unreadable > 0)
        detail += (detail.empty() ? "" : "; ") + tr("ctl_unreadable_enclosures", std::to_string(s.unreadable));
    return std::string("RAID ") + words[worst] + " - " + detail;
}

}  // namespace ov::cli

#include "cli/run_report.h"

#include <algorithm>
#include <map>

#include "inventory/address_entry.h"
#include "inventory/connection_worker.h"
#include "inventory/failure_reason.h"
#include "inventory/details_rows.h"
#include "operations/inventory_export.h"

namespace talvor::cli {

namespace {

void append_rows(std::string& out, const std::vector<details_row>& rows, const std::string& indent)
{
    for (const auto& [name, value] : rows)
        out += indent + name + ": " + value + "\n";
}

constexpr const char* cancelled_text = "interrupted before it finished";

bool by_address(const CHubDevice* a, const CHubDevice* b) { return a->address < b->address; }

} // namespace

std::string run_report::reason_of(const gone& g)
{
    if (g.cancelled)
        return cancelled_text;
    return g.detail.empty() ? failure_reason(g.reason, g.problems, reason_words::command_line) : g.detail;
}

void run_report::unit_ready(CHubDevice& unit) { ready_.push_back(&unit); }

void run_report::unit_removed(const removed_unit& unit)
{
    // A unit shown already may give way to a duplicate listed before it.
    std::erase(ready_, unit.unit);
    gone g;
    if (unit.unit)
        g.address = unit.unit->address;
    g.address_text = unit.address;
    g.label = unit.label;
    g.serial = unit.serial;
    g.protocol = unit.protocol;
    g.reason = unit.reason;
    g.detail = unit.detail;
    g.problems = unit.problems;
    removed_.push_back(std::move(g));
}

void run_report::add_unfinished(const unit_group& group)
{
    for (const auto& u : group.units()) {
        if (std::find(ready_.begin(), ready_.end(), u.get()) != ready_.end())
            continue;
        gone g;
        g.address = u->address;
        g.address_text = u->address_string();
        g.label = u->label;
        g.cancelled = true;
        removed_.push_back(std::move(g));
    }
}

std::vector<ip_address> run_report::take_passing_failures()
{
    std::vector<ip_address> out;
    std::erase_if(removed_, [&](const gone& g) {
        const bool passing = !g.cancelled && (g.reason == unit_failure::unreachable || g.reason == unit_failure::no_answer ||
                                              g.reason == unit_failure::read_failed || g.reason == unit_failure::no_client);
        bool empty = false;
        const auto address = parse_address_box(g.address_text, empty);
        if (passing && address)
            out.push_back(*address);
        return passing && address;
    });
    return out;
}

std::size_t run_report::failures() const
{
    return static_cast<std::size_t>(
        std::count_if(removed_.begin(), removed_.end(), [](const gone& g) { return g.reason != unit_failure::duplicate; }));
}

std::vector<run_report::failed_unit> run_report::failed_units() const
{
    auto sorted = removed_;
    std::sort(sorted.begin(), sorted.end(), [](const gone& a, const gone& b) { return a.address < b.address; });
    std::vector<failed_unit> out;
    for (const gone& g : sorted)
        out.push_back({g.address_text, g.label, g.serial, reason_of(g), g.reason == unit_failure::duplicate, g.cancelled,
                       started_, g.ended});
    return out;
}

std::string run_report::text() const
{
    // Hub type -> unit -> TAP class -> TAP, as the window's tree groups them.
    std::map<std::string, std::vector<CHubDevice*>> by_type;
    for (CHubDevice* u : ready_)
        by_type[std::string(system_type_name(u->system_type))].push_back(u);
    std::string out;
    for (auto& [type, units] : by_type) {
        std::sort(units.begin(), units.end(), by_address);
        out += type + "\n";
        for (CHubDevice* u : units) {
            out += "  " + u->label + "\n";
            std::vector<details_row> rows;
            unit_details_rows(*u, rows);
            append_rows(out, rows, "      ");
            std::map<std::string, std::vector<const CTapDevice*>> by_class;
            for (const auto& tap : u->taps)
                by_class[std::string(tap_class_name(tap->tap_class))].push_back(tap.get());
            for (const auto& [cls, taps] : by_class) {
                out += "    " + cls + "\n";
                for (const CTapDevice* t : taps) {
                    out += "      " + t->label + "\n";
                    rows.clear();
                    tap_details_rows(*t, rows);
                    append_rows(out, rows, "          ");
                }
            }
        }
    }
    return out + dropped_text();
}

std::string run_report::dropped_text() const
{
    std::string out;
    auto gone_sorted = removed_;
    std::sort(gone_sorted.begin(), gone_sorted.end(), [](const gone& a, const gone& b) { return a.address < b.address; });
    for (const gone& g : gone_sorted) {
        out += (g.cancelled ? "cancelled: " : g.reason == unit_failure::duplicate ? "duplicate: " : "failed: ") +
               g.address_text;
        if (!g.label.empty() && g.label != g.address_text)
            out += " (" + g.label + ")";
        out += ": " + reason_of(g) + "\n";
    }
    return out;
}

std::vector<inventory_dropped> run_report::dropped() const
{
    std::vector<inventory_dropped> out;
    for (const gone& g : removed_)
        out.push_back({g.address, g.address_text, g.label, g.protocol,
                       g.cancelled                              ? "cancelled"
                       : g.reason == unit_failure::duplicate ? "duplicate"
                                                             : "failed",
                       reason_of(g), g.serial, g.problems});
    return out;
}

std::string run_report::json() const
{
    return inventory_json(std::vector<const CHubDevice*>(ready_.begin(), ready_.end()), dropped());
}

std::string run_report::csv() const
{
    return inventory_csv(std::vector<const CHubDevice*>(ready_.begin(), ready_.end()));
}

} // namespace talvor::cli

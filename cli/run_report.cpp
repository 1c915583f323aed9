#include "cli/run_report.h"

#include <algorithm>
#include <map>

#include "cli/json_writer.h"
#include "inventory/connection_worker.h"
#include "inventory/details_rows.h"

namespace talvor::cli {

namespace {

const char* protocol_name(int protocol)
{
    return protocol == protocol_http ? "http" : protocol == protocol_wss ? "wss" : "";
}

void write_rows(json_writer& w, const std::vector<details_row>& rows)
{
    w.key("details");
    w.begin_array();
    for (const auto& [name, value] : rows) {
        w.begin_array();
        w.value(name);
        w.value(value);
        w.end_array();
    }
    w.end_array();
}

void append_rows(std::string& out, const std::vector<details_row>& rows, const std::string& indent)
{
    for (const auto& [name, value] : rows)
        out += indent + name + ": " + value + "\n";
}

constexpr const char* cancelled_text = "interrupted before it finished";

bool by_address(const CHubDevice* a, const CHubDevice* b) { return a->address < b->address; }

} // namespace

void run_report::unit_ready(CHubDevice& unit) { ready_.push_back(&unit); }

void run_report::unit_removed(const removed_unit& unit)
{
    gone g;
    if (unit.unit)
        g.address = unit.unit->address;
    g.address_text = unit.address;
    g.label = unit.label;
    g.protocol = unit.protocol;
    g.reason = unit.reason;
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
        if (g.reason != unit_failure::duplicate)
            out.push_back({g.address_text, g.label, g.cancelled ? cancelled_text : failure_text(g.reason)});
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
    auto gone_sorted = removed_;
    std::sort(gone_sorted.begin(), gone_sorted.end(), [](const gone& a, const gone& b) { return a.address < b.address; });
    for (const gone& g : gone_sorted) {
        out += (g.cancelled ? "cancelled: " : g.reason == unit_failure::duplicate ? "duplicate: " : "failed: ") +
               g.address_text;
        if (!g.label.empty() && g.label != g.address_text)
            out += " (" + g.label + ")";
        out += std::string(": ") + (g.cancelled ? cancelled_text : failure_text(g.reason)) + "\n";
    }
    return out;
}

std::string run_report::json() const
{
    struct entry {
        const ip_address* address;
        const CHubDevice* unit;
        const gone* removed;
    };
    std::vector<entry> all;
    for (const CHubDevice* u : ready_)
        all.push_back({&u->address, u, nullptr});
    for (const gone& g : removed_)
        all.push_back({&g.address, nullptr, &g});
    std::stable_sort(all.begin(), all.end(), [](const entry& a, const entry& b) { return *a.address < *b.address; });

    json_writer w;
    w.begin_object();
    w.key("units");
    w.begin_array();
    for (const entry& e : all) {
        w.begin_object();
        if (e.unit) {
            CHubDevice& u = const_cast<CHubDevice&>(*e.unit);
            w.key("address"), w.value(u.address_string());
            w.key("label"), w.value(u.label);
            w.key("system"), w.value(system_type_name(u.system_type));
            w.key("product_class"), w.value(product_class_name(u.product_class));
            w.key("protocol"), w.value(protocol_name(unit_protocol(u)));
            w.key("result"), w.value("ok");
            std::vector<details_row> rows;
            unit_details_rows(u, rows);
            write_rows(w, rows);
            w.key("taps");
            w.begin_array();
            for (const auto& tap : u.taps) {
                w.begin_object();
                w.key("label"), w.value(tap->label);
                w.key("tap_class"), w.value(tap_class_name(tap->tap_class));
                w.key("product_class"), w.value(product_class_name(tap->product_class));
                rows.clear();
                tap_details_rows(*tap, rows);
                write_rows(w, rows);
                w.end_object();
            }
            w.end_array();
        } else {
            const gone& g = *e.removed;
            w.key("address"), w.value(g.address_text);
            w.key("label"), w.value(g.label);
            w.key("system"), w.null();
            w.key("product_class"), w.null();
            w.key("protocol");
            if (g.protocol)
                w.value(protocol_name(g.protocol));
            else
                w.null();
            w.key("result"), w.value(g.cancelled                              ? "cancelled"
                                     : g.reason == unit_failure::duplicate ? "duplicate"
                                                                           : "failed");
            w.key("error"), w.value(g.cancelled ? cancelled_text : failure_text(g.reason));
            w.key("details"), w.begin_array(), w.end_array();
            w.key("taps"), w.begin_array(), w.end_array();
        }
        w.end_object();
    }
    w.end_array();
    w.end_object();
    return w.text() + "\n";
}

} // namespace talvor::cli

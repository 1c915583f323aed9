#include "operations/inventory_export.h"

#include <algorithm>
#include <cctype>

#include "inventory/code_tables.h"
#include "inventory/connection_worker.h"
#include "inventory/details_rows.h"
#include "inventory/dialogs.h"
#include "operations/config_file.h"
#include "operations/unit_manager.h"
#include "transport/json_quote.h"
#include "transport/json_writer.h"

namespace talvor {

namespace {

const char* protocol_name(int protocol)
{
    return protocol == protocol_http ? "http" : protocol == protocol_wss ? "wss" : "";
}

// The session's protocol is read under the unit's lock; the record stays const.
const char* protocol_of(const CHubDevice& unit)
{
    return protocol_name(unit_protocol(const_cast<CHubDevice&>(unit)));
}

std::vector<const CHubDevice*> by_address(std::vector<const CHubDevice*> units)
{
    std::stable_sort(units.begin(), units.end(),
                     [](const CHubDevice* a, const CHubDevice* b) { return a->address < b->address; });
    return units;
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

void text_or_null(json_writer& w, const char* key, const std::string& text)
{
    w.key(key);
    if (text.empty())
        w.null();
    else
        w.value(text);
}

std::string version_text(const version_triple& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
}

// The security problems as words a script can match.
void write_problems(json_writer& w, std::uint32_t problems)
{
    static constexpr struct {
        std::uint32_t bit;
        const char* word;
    } words[] = {{problem_unencrypted, "unencrypted"},
                 {problem_invalid, "invalid"},
                 {problem_untrusted, "untrusted"},
                 {problem_identity, "identity"}};
    w.key("problems");
    w.begin_array();
    for (const auto& p : words)
        if (problems & p.bit)
            w.value(p.word);
    w.end_array();
}

void write_unit(json_writer& w, const CHubDevice& u)
{
    w.key("address"), w.value(u.address_string());
    w.key("label"), w.value(u.label);
    w.key("system"), w.value(system_type_name(u.system_type));
    w.key("product_class"), w.value(product_class_name(u.product_class));
    w.key("protocol"), w.value(protocol_of(u));
    w.key("result"), w.value("ok");
    w.key("error"), w.null();
    text_or_null(w, "serial", u.serial);
    text_or_null(w, "mac", u.mac == unknown_mac ? std::string() : mac_text(u.mac));
    w.key("firmware_version"), w.value(version_text(u.net_version));
    w.key("description"), w.value(u.description);
    // Read under the unit's lock; the record stays const.
    write_problems(w, unit_security_problems(const_cast<CHubDevice&>(u)));
    std::vector<details_row> rows;
    unit_details_rows(u, rows);
    write_rows(w, rows);
    w.key("taps");
    w.begin_array();
    for (const auto& tap : u.taps) {
        w.begin_object();
        w.key("label"), w.value(tap->label);
        w.key("tap_class"), w.value(tap_class_name(tap->tap_class));
        w.key("class"), w.value(tap_class_name(tap->tap_class));
        w.key("product_class"), w.value(product_class_name(tap->product_class));
        text_or_null(w, "serial", (tap->detail_rows & row_serial) ? tap->serial : std::string());
        w.key("bus"), w.value(tap->bus);
        w.key("bus_address"), w.value(tap->bus_address);
        text_or_null(w, "firmware_version",
                     (tap->detail_rows & row_firmware) ? version_text(tap->version) : std::string());
        rows.clear();
        tap_details_rows(*tap, rows);
        write_rows(w, rows);
        w.end_object();
    }
    w.end_array();
}

void write_dropped(json_writer& w, const inventory_dropped& d)
{
    w.key("address"), w.value(d.address_text);
    w.key("label"), w.value(d.label);
    w.key("system"), w.null();
    w.key("product_class"), w.null();
    w.key("protocol");
    if (d.protocol)
        w.value(protocol_name(d.protocol));
    else
        w.null();
    w.key("result"), w.value(d.result);
    w.key("error"), w.value(d.error);
    text_or_null(w, "serial", d.serial);
    w.key("mac"), w.null();
    w.key("firmware_version"), w.null();
    w.key("description"), w.null();
    write_problems(w, d.problems);
    w.key("details"), w.begin_array(), w.end_array();
    w.key("taps"), w.begin_array(), w.end_array();
}

std::string csv_field(std::string_view text)
{
    std::string value = valid_utf8(text);
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

struct csv_row {
    std::vector<std::string> fixed;
    std::vector<details_row> details;
};

} // namespace

std::string inventory_json(const std::vector<const CHubDevice*>& units, const std::vector<inventory_dropped>& dropped)
{
    struct entry {
        const ip_address* address;
        const CHubDevice* unit;
        const inventory_dropped* dropped;
    };
    std::vector<entry> all;
    for (const CHubDevice* u : units)
        all.push_back({&u->address, u, nullptr});
    for (const inventory_dropped& d : dropped)
        all.push_back({&d.address, nullptr, &d});
    std::stable_sort(all.begin(), all.end(), [](const entry& a, const entry& b) { return *a.address < *b.address; });

    json_writer w;
    w.begin_object();
    w.key("schema"), w.value(inventory_schema);
    w.key("units");
    w.begin_array();
    for (const entry& e : all) {
        w.begin_object();
        if (e.unit)
            write_unit(w, *e.unit);
        else
            write_dropped(w, *e.dropped);
        w.end_object();
    }
    w.end_array();
    w.end_object();
    return w.text() + "\n";
}

std::string inventory_csv(const std::vector<const CHubDevice*>& units)
{
    static constexpr const char* fixed_columns[] = {"Kind", "Hub Type", "Unit", "Address", "Protocol", "TAP Class",
                                                    "TAP"};
    std::vector<csv_row> rows;
    std::vector<std::string> names;
    auto add = [&](csv_row row) {
        for (const auto& [name, value] : row.details)
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
        rows.push_back(std::move(row));
    };
    for (const CHubDevice* u : by_address(units)) {
        const std::string type(system_type_name(u->system_type));
        const std::string address = u->address_string();
        const std::string protocol = protocol_of(*u);
        csv_row row{{"unit", type, u->label, address, protocol, "", ""}, {}};
        unit_details_rows(*u, row.details);
        add(std::move(row));
        for (const auto& tap : u->taps) {
            csv_row t{{"TAP", type, u->label, address, protocol, std::string(tap_class_name(tap->tap_class)),
                       tap->label},
                      {}};
            tap_details_rows(*tap, t.details);
            add(std::move(t));
        }
    }

    std::string out;
    auto field = [&out](std::string_view text, bool first) {
        if (!first)
            out += ',';
        out += csv_field(text);
    };
    for (const char* column : fixed_columns)
        field(column, column == fixed_columns[0]);
    for (const std::string& name : names)
        field(name, false);
    out += "\r\n";
    for (const csv_row& row : rows) {
        for (std::size_t i = 0; i < row.fixed.size(); ++i)
            field(row.fixed[i], i == 0);
        for (const std::string& name : names) {
            const auto it = std::find_if(row.details.begin(), row.details.end(),
                                         [&name](const details_row& d) { return d.first == name; });
            field(it == row.details.end() ? std::string_view() : std::string_view(it->second), false);
        }
        out += "\r\n";
    }
    return out;
}

int export_inventory(unit_manager& manager, dialogs& ui, std::filesystem::path* written)
{
    constexpr const char* title = "Export Inventory";
    file_request request;
    request.title = title;
    request.filter = "CSV Files (*.csv)|*.csv|JSON Files (*.json)|*.json||";
    request.save = true;
    request.default_name = "inventory.csv";
    request.default_extension = "csv";
    request.overwrite_prompt = true;
    const auto chosen = ui.choose_file(request);
    if (!chosen)
        return 0;

    // A unit at work is being read by its worker and is not in the tree yet.
    std::vector<const CHubDevice*> units;
    for (const auto& u : manager.group().units())
        if (!manager.busy().contains(u.get()))
            units.push_back(u.get());
    std::string extension = chosen->extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string text = extension == ".json" ? inventory_json(units) : inventory_csv(units);

    std::string reason;
    if (replace_file_safely(*chosen, byte_vector(text.begin(), text.end()), reason) != 0) {
        ui.task_dialog(error_dialog(title, "Cannot write \"" + chosen->filename().string() + "\"", reason));
        return -1;
    }
    if (written)
        *written = *chosen;
    return 1;
}

} // namespace talvor

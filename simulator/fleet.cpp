#include "simulator/fleet.h"

#include <boost/asio/ip/address.hpp>
#include <boost/json.hpp>
#include <cctype>
#include <cstdio>
#include <set>
#include <stdexcept>

namespace json = boost::json;

namespace talvor::sim {
namespace {

[[noreturn]] void fail(const std::string& where, const std::string& what)
{
    throw std::runtime_error("fleet: " + where + ": " + what);
}

std::string get_text(const json::object& o, const char* key, const std::string& where, std::string fallback)
{
    auto* v = o.if_contains(key);
    if (!v)
        return fallback;
    if (!v->is_string())
        fail(where, std::string("\"") + key + "\" must be a string");
    return std::string(v->as_string());
}

std::int64_t get_int(const json::object& o, const char* key, const std::string& where, std::int64_t fallback)
{
    auto* v = o.if_contains(key);
    if (!v)
        return fallback;
    if (v->is_int64())
        return v->as_int64();
    if (v->is_uint64())
        return static_cast<std::int64_t>(v->as_uint64());
    if (v->is_string()) { // "301" and 301 alike
        try {
            return std::stoll(std::string(v->as_string()), nullptr, 0);
        } catch (...) {
        }
    }
    fail(where, std::string("\"") + key + "\" must be an integer");
}

bool get_bool(const json::object& o, const char* key, const std::string& where, bool fallback)
{
    auto* v = o.if_contains(key);
    if (!v)
        return fallback;
    if (!v->is_bool())
        fail(where, std::string("\"") + key + "\" must be true or false");
    return v->as_bool();
}

// A served document: "<key>_text" verbatim, else "<key>" serialised, else the fallback.
std::string get_document(const json::object& o, const std::string& key, const std::string& where, std::string fallback)
{
    if (auto* t = o.if_contains(key + "_text")) {
        if (!t->is_string())
            fail(where, "\"" + key + "_text\" must be a string");
        return std::string(t->as_string());
    }
    if (auto* v = o.if_contains(key))
        return json::serialize(*v);
    return fallback;
}

std::vector<std::pair<int, int>> get_progress(const json::object& o, const char* key, const std::string& where,
                                              std::vector<std::pair<int, int>> fallback)
{
    auto* v = o.if_contains(key);
    if (!v)
        return fallback;
    std::vector<std::pair<int, int>> out;
    if (v->is_array()) {
        for (auto& step : v->as_array()) {
            auto* a = step.if_array();
            if (!a || a->size() != 2 || !(*a)[0].is_int64() || !(*a)[1].is_int64())
                fail(where, std::string("\"") + key + "\" must hold [status, prog] pairs");
            out.emplace_back(static_cast<int>((*a)[0].as_int64()), static_cast<int>((*a)[1].as_int64()));
        }
    }
    if (out.empty())
        fail(where, std::string("\"") + key + "\" must hold at least one step");
    return out;
}

int leading_number(std::string_view s)
{
    int n = 0;
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < 100000)
        n = n * 10 + (s[i++] - '0');
    return n;
}

// The TAP list as the parallel arrays of the TAP details reply.
std::string build_tap_details(const json::object& u, const std::string& where)
{
    auto& taps = u.at("taps");
    if (!taps.is_array())
        fail(where, "\"taps\" must be an array");
    std::vector<std::int64_t> bus_sizes;
    if (auto* b = u.if_contains("bus_sizes")) {
        if (!b->is_array())
            fail(where, "\"bus_sizes\" must be an array");
        for (auto& n : b->as_array()) {
            if (!n.is_int64() || n.as_int64() < 0)
                fail(where, "\"bus_sizes\" must hold counts");
            bus_sizes.push_back(n.as_int64());
        }
    }
    struct slot {
        const json::object* tap;
        std::size_t index;
    };
    std::vector<slot> slots;
    std::size_t total = 0;
    for (auto n : bus_sizes)
        total += static_cast<std::size_t>(n);
    bool chip = false;
    for (auto& t : taps.as_array()) {
        auto* tap = t.if_object();
        if (!tap)
            fail(where, "every TAP must be an object");
        std::int64_t bus = get_int(*tap, "bus", where, 0);
        std::int64_t addr = get_int(*tap, "address", where, 1);
        if (bus < 0 || addr < 1)
            fail(where, "TAP bus must be >= 0 and address >= 1");
        std::size_t index = 0;
        if (bus_sizes.empty()) {
            if (bus != 0)
                fail(where, "TAP on bus " + std::to_string(bus) + " needs \"bus_sizes\"");
            index = static_cast<std::size_t>(addr - 1);
        } else {
            if (bus >= static_cast<std::int64_t>(bus_sizes.size()) || addr > bus_sizes[bus])
                fail(where, "TAP at bus " + std::to_string(bus) + " address " + std::to_string(addr) +
                                " lies outside \"bus_sizes\"");
            for (std::int64_t b = 0; b < bus; ++b)
                index += static_cast<std::size_t>(bus_sizes[b]);
            index += static_cast<std::size_t>(addr - 1);
        }
        chip = chip || tap->contains("chip_type");
        slots.push_back({tap, index});
        total = std::max(total, index + 1);
    }
    if (bus_sizes.empty())
        bus_sizes.push_back(static_cast<std::int64_t>(total));
    json::array type(total, 0), sernr(total, ""), ccts(total, 0), fstcct(total, 0), caps(total, 0), fwver(total, 0),
        fpgats(total, 0), chip_type(total, 0);
    for (auto& s : slots) {
        auto& t = *s.tap;
        type[s.index] = get_int(t, "type", where, 0);
        sernr[s.index] = json::string(get_text(t, "sernr", where, ""));
        ccts[s.index] = get_int(t, "ccts", where, 0);
        fstcct[s.index] = get_int(t, "fstcct", where, 0);
        caps[s.index] = get_int(t, "caps", where, 0);
        fwver[s.index] = get_int(t, "fwver", where, 0);
        fpgats[s.index] = get_int(t, "fpgats", where, 0);
        chip_type[s.index] = get_int(t, "chip_type", where, 0);
    }
    json::object out;
    json::array delim;
    for (auto n : bus_sizes)
        delim.push_back(n);
    out["delim"] = delim;
    out["type"] = type;
    out["sernr"] = sernr;
    out["ccts"] = ccts;
    out["fstcct"] = fstcct;
    out["caps"] = caps;
    out["fwver"] = fwver;
    out["fpgats"] = fpgats;
    if (chip)
        out["chip_type"] = chip_type;
    return json::serialize(out);
}

std::string mac_text(const std::array<std::uint8_t, 6>& m)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return buf;
}

unit_config parse_unit(const json::value& v, std::size_t n)
{
    std::string where = "unit " + std::to_string(n);
    auto* o = v.if_object();
    if (!o)
        fail(where, "must be an object");
    unit_config u;
    u.name = get_text(*o, "name", where, "");
    if (u.name.empty())
        fail(where, "\"name\" is missing");
    where = "unit \"" + u.name + "\"";
    std::string kind = get_text(*o, "kind", where, "");
    if (kind == "http")
        u.kind = unit_kind::http;
    else if (kind == "wss")
        u.kind = unit_kind::wss;
    else
        fail(where, "\"kind\" must be \"http\" or \"wss\"");
    u.address = get_text(*o, "address", where, "");
    boost::system::error_code ec;
    auto addr = boost::asio::ip::make_address(u.address, ec);
    if (ec)
        fail(where, "\"address\" is not an IP address: \"" + u.address + "\"");
    u.password = get_text(*o, "password", where, "password");
    u.salt = get_text(*o, "salt", where, "salt-" + u.name);
    if (u.salt.empty())
        fail(where, "\"salt\" must not be empty");
    u.probe_status = static_cast<int>(get_int(*o, "probe", where, 404));
    std::string port80 = o->contains("port80") && (*o).at("port80").is_string()
                             ? std::string((*o).at("port80").as_string())
                             : std::to_string(get_int(*o, "port80", where, 0));
    if (port80 == "refused" || port80 == "0")
        u.port80 = 0;
    else if (port80 == "301" || port80 == "302")
        u.port80 = std::stoi(port80);
    else
        fail(where, "\"port80\" must be \"refused\", \"301\" or \"302\"");
    u.role = get_text(*o, "role", where, "admin");
    u.restart_ms = static_cast<int>(get_int(*o, "restart_ms", where, -1));
    if (u.restart_ms < -1 || u.restart_ms > 600000)
        fail(where, "\"restart_ms\" must be -1 or 0 to 600000");
    u.install_ms = static_cast<int>(get_int(*o, "install_ms", where, -1));
    if (u.install_ms < -1 || u.install_ms > 600000)
        fail(where, "\"install_ms\" must be -1 or 0 to 600000");
    if (auto* c = o->if_contains("csrf")) {
        if (!c->is_array())
            fail(where, "\"csrf\" must be an array of strings");
        for (auto& s : c->as_array()) {
            if (!s.is_string() || s.as_string().empty())
                fail(where, "\"csrf\" must hold non-empty strings");
            u.csrf_sequence.emplace_back(s.as_string());
        }
    }
    if (auto* c = o->if_contains("extra_cookies")) {
        if (!c->is_array())
            fail(where, "\"extra_cookies\" must be an array of strings");
        for (auto& s : c->as_array()) {
            if (!s.is_string())
                fail(where, "\"extra_cookies\" must hold strings");
            u.extra_cookies.emplace_back(s.as_string());
        }
    }
    u.csrf_check = get_bool(*o, "csrf_check", where, true);
    u.require_login = get_bool(*o, "require_login", where, true);
    u.ws_text_replies = get_bool(*o, "ws_text_replies", where, false);
    u.keep_uploads = get_bool(*o, "keep_uploads", where, true);

    // Discovery MAC: explicit, else the general configuration's mac0, else from the address.
    std::array<std::uint8_t, 6> mac{0x02, 0x00, 0, 0, 0, 0};
    if (addr.is_v4()) {
        auto b = addr.to_v4().to_bytes();
        mac = {0x02, 0x54, b[0], b[1], b[2], b[3]};
    } else {
        auto b = addr.to_v6().to_bytes();
        mac = {0x02, 0x66, b[12], b[13], b[14], b[15]};
    }
    bool mac_given = false;
    if (auto* m = o->if_contains("mac")) {
        if (!m->is_string() || !parse_mac(m->as_string(), mac))
            fail(where, "\"mac\" must be six hex groups");
        mac_given = true;
    }
    if (!mac_given) {
        if (auto* g = o->if_contains("gen_conf"); g && g->is_object())
            if (auto* m = g->as_object().if_contains("mac0"); m && m->is_string())
                parse_mac(m->as_string(), mac);
    }

    json::object def_gen;
    def_gen["system"] = "622";
    def_gen["ser"] = u.name;
    def_gen["mac0"] = mac_text(mac);
    u.gen_conf = get_document(*o, "gen_conf", where, json::serialize(def_gen));
    u.conf = get_document(*o, "conf", where, u.gen_conf);
    if (o->contains("taps") && !o->contains("tap_details") && !o->contains("tap_details_text"))
        u.tap_details = build_tap_details(*o, where);
    else
        u.tap_details = get_document(*o, "tap_details", where,
                                     R"({"delim":[0],"type":[],"sernr":[],"ccts":[],"fstcct":[],"caps":[],"fwver":[],"fpgats":[]})");
    u.config_cats = get_document(*o, "config_cats", where, R"({"cats":[{"Network":1},{"Logs":2}],"version":7})");
    u.config_file = get_document(*o, "config_file", where, R"({"version":7,"glob_conf":{"sd_state":0}})");

    if (auto* r = o->if_contains("registers")) {
        if (!r->is_object())
            fail(where, "\"registers\" must be an object");
        for (auto& [k, val] : r->as_object()) {
            int start = 0;
            try {
                start = std::stoi(std::string(k), nullptr, 0);
            } catch (...) {
                fail(where, "register \"" + std::string(k) + "\" is not a number");
            }
            auto put = [&](const json::value& x, int reg) {
                if (!x.is_int64() || x.as_int64() < 0 || x.as_int64() > 65535 || reg < 0 || reg > 65535)
                    fail(where, "register " + std::to_string(reg) + " must hold 0..65535");
                u.registers[reg] = static_cast<std::uint16_t>(x.as_int64());
            };
            if (val.is_array()) {
                int reg = start;
                for (auto& x : val.as_array())
                    put(x, reg++);
            } else {
                put(val, start);
            }
        }
    }

    std::string cert = get_text(*o, "cert", where, "valid");
    static const std::pair<const char*, cert_kind> certs[] = {
        {"valid", cert_kind::valid},         {"wrong_name", cert_kind::wrong_name},
        {"expired", cert_kind::expired},     {"not_yet_valid", cert_kind::not_yet_valid},
        {"wrong_usage", cert_kind::wrong_usage}, {"self_signed", cert_kind::self_signed},
        {"legacy", cert_kind::legacy}};
    bool known = false;
    for (auto& [text, k] : certs)
        if (cert == text) {
            u.cert = k;
            known = true;
        }
    if (!known)
        fail(where, "unknown \"cert\" \"" + cert + "\"");
    static const std::pair<const char*, int> versions[] = {
        {"", 0}, {"1.0", 0x0301}, {"1.1", 0x0302}, {"1.2", 0x0303}, {"1.3", 0x0304}};
    const std::string tls_max = get_text(*o, "tls_max", where, "");
    known = false;
    for (auto& [text, v] : versions)
        if (tls_max == text) {
            u.tls_max = v;
            known = true;
        }
    if (!known)
        fail(where, "unknown \"tls_max\" \"" + tls_max + "\"");

    u.progress = get_progress(*o, "progress", where, {{1, 0}, {1, 40}, {1, 80}, {3, 100}});
    u.progress_fail = get_progress(*o, "progress_fail", where, {{1, 0}, {1, 40}, {2, 40}});
    if (auto* f = o->if_contains("faults")) {
        if (!f->is_object())
            fail(where, "\"faults\" must be an object");
        u.faults = f->as_object();
    }
    if (u.probe_status == 500) // the short form of the probe fault
        u.faults["probe_500"] = true;

    u.discovery.mac = mac;
    int sys = 622;
    {
        json::error_code jec;
        auto g = json::parse(u.gen_conf, jec);
        if (!jec && g.is_object()) {
            if (auto* s = g.as_object().if_contains("system")) {
                if (s->is_string())
                    sys = leading_number(s->as_string());
                else if (s->is_int64())
                    sys = static_cast<int>(s->as_int64());
            }
        }
        if (sys != 522 && sys != 622)
            sys = 622;
    }
    char id[13];
    std::snprintf(id, sizeof id, "%s%02x%02x%02x%02x%01x", sys == 522 ? "ORV" : "TLV", mac[2], mac[3], mac[4],
                  mac[5], static_cast<unsigned>(n & 15));
    u.discovery.id = id;
    u.discovery.system_code = sys;
    if (auto* d = o->if_contains("discovery")) {
        if (!d->is_object())
            fail(where, "\"discovery\" must be an object");
        auto& dob = d->as_object();
        u.discovery.form = get_text(dob, "form", where, "extended");
        static const std::set<std::string> forms = {"extended", "basic", "basic_with_ext_flag",
                                                    "extended_without_ext_flag", "bad_magic", "silent"};
        if (!forms.count(u.discovery.form))
            fail(where, "unknown discovery \"form\" \"" + u.discovery.form + "\"");
        u.discovery.system_code = static_cast<int>(get_int(dob, "system_code", where, sys));
        u.discovery.id = get_text(dob, "id", where, u.discovery.id);
        if (u.discovery.id.size() != 12)
            fail(where, "discovery \"id\" must be 3 characters and 9 hex digits");
        if (auto* m = dob.if_contains("mac"))
            if (!m->is_string() || !parse_mac(m->as_string(), u.discovery.mac))
                fail(where, "discovery \"mac\" must be six hex groups");
    }
    return u;
}

} // namespace

bool parse_mac(std::string_view text, std::array<std::uint8_t, 6>& out)
{
    std::array<std::uint8_t, 6> m{};
    std::size_t pos = 0;
    for (int g = 0; g < 6; ++g) {
        int value = 0, digits = 0;
        while (pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos])) && digits < 2) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[pos++])));
            value = value * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
            ++digits;
        }
        if (digits == 0)
            return false;
        m[g] = static_cast<std::uint8_t>(value);
        if (g < 5) {
            if (pos >= text.size() || text[pos] != ':')
                return false;
            ++pos;
        }
    }
    if (pos != text.size())
        return false;
    out = m;
    return true;
}

fleet_config parse_fleet(std::string_view json_text)
{
    json::parse_options opts;
    opts.allow_comments = true;
    opts.allow_trailing_commas = true;
    json::error_code ec;
    json::value root = json::parse(json_text, ec, {}, opts);
    if (ec)
        throw std::runtime_error("fleet: not valid JSON: " + ec.message());
    auto* o = root.if_object();
    if (!o)
        throw std::runtime_error("fleet: the top level must be an object");
    fleet_config f;
    std::string mode = get_text(*o, "discovery", "fleet", "unit");
    if (mode == "unit")
        f.discovery = discovery_mode::unit;
    else if (mode == "wildcard")
        f.discovery = discovery_mode::wildcard;
    else if (mode == "off")
        f.discovery = discovery_mode::off;
    else
        fail("fleet", "\"discovery\" must be \"unit\", \"wildcard\" or \"off\"");
    f.threads = static_cast<int>(get_int(*o, "threads", "fleet", 3));
    if (f.threads < 1 || f.threads > 64)
        fail("fleet", "\"threads\" must be 1..64");
    f.wire_check = get_bool(*o, "wire_check", "fleet", true);
    const bool keep_uploads = get_bool(*o, "keep_uploads", "fleet", true);
    auto* units = o->if_contains("units");
    if (!units || !units->is_array() || units->as_array().empty())
        fail("fleet", "\"units\" must be a non-empty array");
    std::set<std::string> names, addresses;
    std::size_t n = 0;
    int v6 = 0;
    for (auto& v : units->as_array()) {
        auto u = parse_unit(v, n++);
        if (!keep_uploads && !(v.is_object() && v.as_object().contains("keep_uploads")))
            u.keep_uploads = false;
        if (!names.insert(u.name).second)
            fail("unit \"" + u.name + "\"", "name used twice");
        if (!addresses.insert(u.address).second)
            fail("unit \"" + u.name + "\"", "address " + u.address + " used twice");
        if (u.address.find(':') != std::string::npos && ++v6 > 1)
            fail("unit \"" + u.name + "\"", "at most one unit may use an IPv6 address");
        f.units.push_back(std::move(u));
    }
    return f;
}

} // namespace talvor::sim

#include "simulator/wss_actions.h"

#include "simulator/listeners.h"

#include <boost/json.hpp>

namespace json = boost::json;

namespace talvor::sim {
namespace {

struct outcome {
    int status = 200;
    std::string payload;
};

std::optional<std::int64_t> member_number(const json::object* data, const char* key)
{
    if (!data)
        return std::nullopt;
    auto* v = data->if_contains(key);
    if (!v || !v->is_int64())
        return std::nullopt;
    return v->as_int64();
}

std::string member_text(const json::object* data, const char* key)
{
    if (!data)
        return {};
    auto* v = data->if_contains(key);
    return v && v->is_string() ? std::string(v->as_string()) : std::string();
}

outcome route(unit& u, const std::string& name, const json::object* data, const std::string* file,
              bool& logged_in, upload_summary& upload)
{
    auto docs = [&](const std::string& text) { return outcome{200, text}; };
    if (name == "auth_salt.action")
        return docs(u.cfg.salt);
    if (name == "auth_login.action") {
        if (u.refuses_login(name) || !u.key_matches(member_text(data, "pass")))
            return {403, {}};
        logged_in = true;
        u.record("login", -1, {});
        return docs(u.cfg.role);
    }
    if (name == "auth_logout.action") {
        if (!u.key_matches(member_text(data, "pass")))
            return {403, {}};
        logged_in = false;
        u.record("logout", -1, {});
        return {200, {}};
    }
    if (name == "auth_set.action") {
        if (!u.wss_set_password(member_text(data, "pass"), member_text(data, "check")))
            return {403, {}};
        u.record("set_password", -1, {});
        return {200, {}};
    }
    if (!logged_in && u.cfg.require_login)
        return {403, {}};
    if (name == "config.cfg")
        return docs(u.cfg.config_file);
    if (name == "gen_conf_get.action")
        return docs(u.gen_conf());
    if (name == "conf_get.action")
        return docs(u.cfg.conf);
    if (name == "tap_details.action")
        return docs(u.cfg.tap_details);
    if (name == "config_cats.action")
        return docs(u.cfg.config_cats);
    if (name == "prog_get.action")
        return docs(u.progress_reply());
    if (name == "modbus_get.action") {
        auto start = member_number(data, "start"), count = member_number(data, "count");
        if (!start || !count || !member_number(data, "interval") || *start < 0 || *start > 65535 || *count < 1 ||
            *count > 256)
            return {400, {}};
        json::array regs;
        for (auto v : u.read_registers(static_cast<int>(*start), static_cast<int>(*count)))
            regs.push_back(v);
        if (u.fault("modbus_wrong_count", name))
            regs.push_back(0);
        return docs(json::serialize(json::object{{"regs", regs}}));
    }
    if (name == "modbus_set.action") {
        auto start = member_number(data, "start"), count = member_number(data, "count");
        auto* regs = data ? data->if_contains("regs") : nullptr;
        if (!start || !count || !regs || !regs->is_array() ||
            static_cast<std::int64_t>(regs->as_array().size()) != *count || *start < 0 || *start + *count > 65536)
            return {400, {}};
        std::vector<std::int64_t> values;
        std::string text;
        for (auto& v : regs->as_array()) {
            if (!v.is_int64() || v.as_int64() < 0 || v.as_int64() > 65535)
                return {400, {}};
            values.push_back(v.as_int64());
            text += (text.empty() ? "" : ",") + std::to_string(v.as_int64());
        }
        u.write_registers(static_cast<int>(*start), values);
        u.record("modbus_set", *start, text);
        return {200, {}};
    }
    if (name == "reboot.action" || name == "sdcard_clear.action") {
        std::string kind = name.substr(0, name.find('.'));
        auto code = member_number(data, kind.c_str());
        if (!code)
            return {400, {}};
        if (kind == "reboot")
            u.reboot_requested(*code);
        else
            u.record(kind, *code, {});
        return {200, {}};
    }
    if (name == "cert_default_regen.action" || name == "cert_clear.action") {
        u.record(name.substr(0, name.find('.')), -1, {});
        if (name == "cert_default_regen.action")
            u.regenerate_fallback();
        else
            u.clear_user_cert();
        return {200, {}};
    }
    struct upload_kind {
        const char* request;
        const char* kind;
        const char* number; // data member carried beside the file
    };
    static const upload_kind uploads[] = {{"fw_net_file.action", "fw_net", nullptr},
                                          {"fw_sys_file.action", "fw_sys", "target"},
                                          {"config_set.action", "config", "cat"},
                                          {"customise_file.action", "customise", nullptr},
                                          {"cert_upload.action", "cert", nullptr},
                                          {"priv_upload.action", "key", nullptr}};
    for (auto& up : uploads) {
        if (name != up.request)
            continue;
        std::int64_t number = -1;
        if (up.number) {
            auto n = member_number(data, up.number);
            if (!n)
                return {400, {}};
            number = *n;
        }
        if (!file)
            return {400, {}};
        if (name.rfind("fw_", 0) == 0)
            upload = u.record_firmware(up.kind, number, *file);
        else
            u.record(up.kind, number, *file);
        if (name == "cert_upload.action")
            u.store_user_cert(*file);
        else if (name == "priv_upload.action")
            u.store_user_key(*file);
        if (name.rfind("fw_", 0) == 0)
            u.start_progress();
        return {200, {}};
    }
    return {404, {}};
}

} // namespace

std::string canonical_envelope(const json::value& v)
{
    switch (v.kind()) {
    case json::kind::object: {
        std::string s = "{";
        bool first = true;
        for (auto& [k, m] : v.as_object()) {
            s += first ? " " : ", ";
            first = false;
            s += json::serialize(json::string(k)) + " : " + canonical_envelope(m);
        }
        return s + " }";
    }
    case json::kind::array: {
        std::string s = "[";
        bool first = true;
        for (auto& e : v.as_array()) {
            s += first ? " " : ", ";
            first = false;
            s += canonical_envelope(e);
        }
        return s + " ]";
    }
    default:
        return json::serialize(v);
    }
}

ws_reply answer_ws(unit& u, const std::string& message, bool& logged_in, bool wire_check)
{
    ws_reply r;
    auto nul = message.find('\0');
    std::string envelope = message.substr(0, nul);
    std::string file;
    if (nul != std::string::npos)
        file = message.substr(nul + 1);
    json::error_code ec;
    json::value env = json::parse(envelope, ec);
    const json::object* o = ec ? nullptr : env.if_object();
    const json::value* id = o ? o->if_contains("_id") : nullptr;
    const json::value* req = o ? o->if_contains("request") : nullptr;
    std::int64_t number = id && id->is_int64() ? id->as_int64() : 0;
    r.name = req && req->is_string() ? std::string(req->as_string()) : "?";

    outcome out;
    const json::value* data = o ? o->if_contains("data") : nullptr;
    if (!o || !id || !id->is_int64() || r.name == "?" || (data && !data->is_object()) ||
        (wire_check && canonical_envelope(env) != envelope)) {
        out = {400, {}};
    } else {
        if (u.fault("stall", r.name)) {
            r.action = ws_action::stall;
            return r;
        }
        if (u.fault("ws_close", r.name)) {
            r.action = ws_action::close;
            return r;
        }
        if (u.fault("ws_drop", r.name)) {
            r.action = ws_action::drop;
            return r;
        }
        if (int forced = u.forced_status(r.name))
            out = {forced, {}};
        else
            out = route(u, r.name, data ? &data->as_object() : nullptr, nul == std::string::npos ? nullptr : &file,
                        logged_in, r.upload);
    }
    r.status = out.status;
    if (u.fault("ws_wrong_id", r.name))
        ++number;
    r.message = (u.fault("ws_capital_data", r.name) ? "DATA:" : "data:") + std::to_string(number) + "," +
                std::to_string(out.status);
    if (!u.fault("ws_no_second_comma", r.name))
        r.message += "," + out.payload;
    return r;
}

} // namespace talvor::sim

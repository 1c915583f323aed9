#include "simulator/http_actions.h"

#include "simulator/multipart.h"

#include <boost/json.hpp>
#include <charconv>
#include <optional>

namespace json = boost::json;

namespace talvor::sim {
namespace {

const char* const json_type = "application/json";

std::optional<std::int64_t> number_of(std::string_view s)
{
    std::int64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || s.empty())
        return std::nullopt;
    return v;
}

// "a=1&b=2" as (name, value) pairs in order.
std::vector<std::pair<std::string, std::string>> form_fields(std::string_view s)
{
    std::vector<std::pair<std::string, std::string>> out;
    while (!s.empty()) {
        auto amp = s.find('&');
        std::string_view item = s.substr(0, amp);
        auto eq = item.find('=');
        if (eq == std::string_view::npos)
            out.emplace_back(std::string(item), "");
        else
            out.emplace_back(std::string(item.substr(0, eq)), std::string(item.substr(eq + 1)));
        if (amp == std::string_view::npos)
            break;
        s.remove_prefix(amp + 1);
    }
    return out;
}

http_reply status_only(int status)
{
    http_reply r;
    r.status = status;
    return r;
}

http_reply json_reply(std::string body)
{
    http_reply r;
    r.content_type = json_type;
    r.body = std::move(body);
    return r;
}

// "pass=<32 hex>" exactly, else nothing.
std::optional<std::string> single_pass(std::string_view body)
{
    if (body.size() != 5 + 32 || body.substr(0, 5) != "pass=" || !key_from_hex(body.substr(5)))
        return std::nullopt;
    return std::string(body.substr(5));
}

std::string host_text(const std::string& address)
{
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

http_reply upload(unit& u, const std::string& op, const std::string& body)
{
    bool two_parts = op == "fw_sys_file.action" || op == "config_set.action";
    auto parts = split_multipart(body, two_parts ? 2 : 1);
    if (!parts || parts->size() != (two_parts ? 2u : 1u))
        return status_only(400);
    std::int64_t number = -1;
    if (two_parts) {
        auto n = number_of((*parts)[0]);
        if (!n)
            return status_only(400);
        number = *n;
    }
    std::string& file = parts->back();
    if (op == "fw_net_file.action" || op == "fw_sys_file.action") {
        http_reply r = status_only(200);
        r.upload = u.record_firmware(op == "fw_net_file.action" ? "fw_net" : "fw_sys", number, std::move(file));
        u.start_progress();
        return r;
    } else if (op == "config_set.action") {
        u.record("config", number, std::move(file));
    } else {
        u.record("customise", -1, std::move(file));
    }
    return status_only(200);
}

} // namespace

std::string operation_of(std::string_view target)
{
    target = target.substr(0, target.find('?'));
    if (!target.empty() && target.front() == '/')
        target.remove_prefix(1);
    return std::string(target);
}

http_reply answer_http(unit& u, const std::string& method, const std::string& target, const std::string& body)
{
    const std::string op = operation_of(target);
    const auto q = target.find('?');
    const std::string query = q == std::string::npos ? "" : target.substr(q + 1);

    if (u.cfg.kind == unit_kind::wss) { // port 80 of a WebSocket unit only redirects
        http_reply r = status_only(u.cfg.port80);
        r.location = "https://" + host_text(u.cfg.address) + "/";
        return r;
    }
    if (u.fault("stall", op)) {
        http_reply r;
        r.action = reply_action::stall;
        return r;
    }
    if (int forced = u.forced_status(op))
        return status_only(forced);

    const bool get = method == "GET", post = method == "POST";
    http_reply r;
    if (op == "XYZZY.ASD") {
        r = status_only(u.fault("probe_500", op) ? 500 : u.cfg.probe_status);
    } else if (op == "challenge_get.action") {
        r = get ? json_reply(u.http_challenge_reply()) : status_only(405);
    } else if (op == "auth_login.action") {
        auto pass = single_pass(body);
        if (!post || !pass) {
            r = status_only(post ? 400 : 405);
        } else if (u.refuses_login(op)) {
            r = status_only(403);
        } else if (auto login = u.http_login(*pass); login.ok) {
            u.record("login", -1, {});
            r.content_type = "text/plain";
            r.body = u.cfg.role;
            r.cookies = {"csrf=" + login.csrf + "; path=/", "auth=" + login.auth + "; path=/"};
        } else {
            r = status_only(403);
        }
    } else if (!post && !get) {
        r = status_only(405);
    } else if (post && !u.csrf_ok(query)) {
        r = status_only(403);
    } else if (op == "auth_logout.action") {
        auto pass = single_pass(body);
        if (!post || !pass)
            r = status_only(post ? 400 : 405);
        else if (u.http_logout(*pass)) {
            u.record("logout", -1, {});
            r = status_only(200);
        } else
            r = status_only(403);
    } else if (op == "auth_set.action") {
        auto fields = form_fields(body);
        if (!post || fields.size() != 2 || fields[0].first != "pass" || fields[1].first != "check")
            r = status_only(post ? 400 : 405);
        else if (u.http_set_password(fields[0].second, fields[1].second)) {
            u.record("set_password", -1, {});
            r = status_only(200);
        } else
            r = status_only(403);
    } else if (!u.http_logged_in()) {
        r = status_only(403);
    } else if (get && (op == "gen_conf_get.action" || op == "conf_get.action" || op == "modbus_get.action")) {
        auto fields = form_fields(query);
        // The client puts its token first; a unit that wants it refuses requests without it.
        bool has_auth = !fields.empty() && fields[0].first == "auth";
        if (has_auth && !u.auth_ok(fields[0].second))
            return status_only(403);
        if (!has_auth && u.fault("needs_auth", op))
            return status_only(403);
        if (has_auth)
            fields.erase(fields.begin());
        if (op == "gen_conf_get.action")
            r = json_reply(u.gen_conf());
        else if (op == "conf_get.action")
            r = json_reply(u.cfg.conf);
        else {
            std::optional<std::int64_t> start, count, interval;
            for (auto& [k, v] : fields) {
                if (k == "start")
                    start = number_of(v);
                else if (k == "count")
                    count = number_of(v);
                else if (k == "interval")
                    interval = number_of(v);
            }
            if (fields.size() != 3 || !start || !count || !interval || *start < 0 || *start > 65535 || *count < 1 ||
                *count > 256)
                return status_only(400);
            json::array regs;
            for (auto v : u.read_registers(static_cast<int>(*start), static_cast<int>(*count)))
                regs.push_back(v);
            if (u.fault("modbus_wrong_count", op))
                regs.push_back(0);
            r = json_reply(json::serialize(json::object{{"regs", regs}}));
        }
    } else if (get && op == "tap_details.action") {
        r = json_reply(u.cfg.tap_details);
    } else if (get && op == "config_cats.action") {
        r = json_reply(u.cfg.config_cats);
    } else if (get && op == "config.cfg") {
        r.content_type = "application/octet-stream";
        r.body = u.cfg.config_file;
    } else if (get && op == "prog_get.action") {
        r = json_reply(u.progress_reply());
    } else if (post && op == "modbus_set.action") {
        std::string_view b = body;
        // The client may put its auth token behind the form.
        if (auto at = b.find("?auth="); at != std::string_view::npos) {
            if (!u.auth_ok(b.substr(at + 6)))
                return status_only(403);
            b = b.substr(0, at);
        }
        auto fields = form_fields(b);
        std::vector<std::int64_t> values;
        bool ok = fields.size() >= 3 && fields[0].first == "start" && fields[1].first == "count";
        auto start = ok ? number_of(fields[0].second) : std::nullopt;
        auto count = ok ? number_of(fields[1].second) : std::nullopt;
        for (std::size_t i = 2; ok && i < fields.size(); ++i) {
            auto v = number_of(fields[i].second);
            ok = fields[i].first == "regs[]" && v && *v >= 0 && *v <= 65535;
            if (ok)
                values.push_back(*v);
        }
        if (!ok || !start || !count || *count != static_cast<std::int64_t>(values.size()) || *start < 0 ||
            *start + *count > 65536)
            return status_only(400);
        u.write_registers(static_cast<int>(*start), values);
        std::string text;
        for (auto v : values)
            text += (text.empty() ? "" : ",") + std::to_string(v);
        u.record("modbus_set", *start, text);
        r = status_only(200);
    } else if (post && (op == "reboot.action" || op == "sdcard_clear.action")) {
        std::string name = op.substr(0, op.find('.'));
        auto fields = form_fields(body);
        std::optional<std::int64_t> code;
        if (fields.size() == 1 && fields[0].first == name)
            code = number_of(fields[0].second);
        if (!code)
            return status_only(400);
        if (name == "reboot")
            u.reboot_requested(*code);
        else
            u.record(name, *code, {});
        r = status_only(200);
    } else if (post && (op == "config_set.action" || op == "fw_net_file.action" || op == "fw_sys_file.action" ||
                        op == "customise_file.action")) {
        r = upload(u, op, body);
    } else {
        r = status_only(404);
    }
    if (r.status == 200)
        r.cookies.insert(r.cookies.end(), u.cfg.extra_cookies.begin(), u.cfg.extra_cookies.end());
    if (r.status == 200 && u.fault("drop_reply_body", op))
        r.action = reply_action::drop_body;
    return r;
}

} // namespace talvor::sim

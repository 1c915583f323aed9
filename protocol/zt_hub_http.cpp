#include "protocol/zt_hub_http.h"

#include "protocol/auth_query.h"
#include "protocol/role_text.h"
#include "protocol/upload_progress.h"

namespace talvor {

namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string as_text(const byte_vector& bytes) { return std::string(bytes.begin(), bytes.end()); }

constexpr std::size_t role_read_max = 128;

} // namespace

zt_hub_http::zt_hub_http(std::shared_ptr<conn_sess> session) : hub_base(std::move(session)) {}

std::string zt_hub_http::with_auth(std::string path) const
{
    if (!(options_ & option_auth_query))
        return path;
    return with_auth_query(std::move(path), session_->cookie("auth"));
}

int zt_hub_http::get_raw(const std::string& path, byte_vector& out, std::size_t limit)
{
    http_exchange ex(session_, false, path);
    const int status = ex.run(progress_range{});
    if (status != 200)
        return status;
    // A partial body never reaches the caller.
    byte_vector body;
    if (ex.read_body(body, limit) != 0)
        return -1;
    out = std::move(body);
    return 200;
}

json_ptr zt_hub_http::get_parsed(const std::string& path, std::size_t limit)
{
    byte_vector body;
    if (get_raw(path, body, limit) != 200)
        return nullptr;
    return json_parser::from(as_text(body));
}

int zt_hub_http::post_form(const std::string& path, const std::string& body)
{
    http_exchange ex(session_, true, path);
    ex.add_segment(std::string_view(body));
    return ex.run(progress_range{});
}

int zt_hub_http::post_multipart(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> parts,
                                const progress_range& progress)
{
    // Nothing is copied: the parts (a firmware image many units share) and
    // the exchange's own framing texts outlive the run.
    http_exchange ex(session_, true, path);
    ex.add_segment_in_place(bytes_of(ex.multipart_head()));
    bool first = true;
    for (const auto& part : parts) {
        if (!first)
            ex.add_segment_in_place(bytes_of(ex.multipart_separator()));
        ex.add_segment_in_place(part);
        first = false;
    }
    ex.add_segment_in_place(bytes_of(ex.multipart_tail()));
    return ex.run(progress);
}

int zt_hub_http::upload_with_progress(const std::string& path,
                                      std::initializer_list<std::span<const std::uint8_t>> parts,
                                      const progress_range& progress)
{
    if (options_ & option_no_progress)
        return post_multipart(path, parts, progress);
    const int status = post_multipart(path, parts, transfer_part(progress));
    if (status != 200)
        return status;
    return follow_progress([this] { return get_parsed("/prog_get.action", progress_reply_limit); }, progress);
}

int zt_hub_http::get_challenge(std::string* challenge)
{
    if (!(accepted_problems & problem_unencrypted)) {
        found_problems |= problem_unencrypted;
        return -1000;
    }
    const json_ptr reply = get_parsed("/challenge_get.action", reply_limit);
    if (!reply)
        return -1;
    if (challenge) {
        *challenge = reply->get_string(reply->find(json_parser::root, "challenge"));
        if (challenge->empty())
            return -1;
    }
    std::string salt = reply->get_string(reply->find(json_parser::root, "salt"));
    if (salt.empty())
        return -1;
    store_salt(std::move(salt));
    return 0;
}

int zt_hub_http::login_exchange(const std::string& path, std::string* role)
{
    std::string challenge;
    if (get_challenge(&challenge) != 0 || !key())
        return -1;
    http_exchange ex(session_, true, path);
    const std::string body = "pass=" + hex_lower(derive_f(*key(), challenge));
    ex.add_segment(std::string_view(body));
    const int status = ex.run(progress_range{});
    if (status != 200 || !role)
        return status;
    byte_vector reply;
    if (ex.read_once(reply, role_read_max) != 0)
        return -1;
    *role = role_from_reply(as_text(reply));
    return 200;
}

int zt_hub_http::login(std::string* role)
{
    if (role)
        return login_exchange("/auth_login.action", role);
    std::string own;
    const int status = login_exchange("/auth_login.action", &own);
    return status == 200 && own != "admin" ? 403 : status;
}

int zt_hub_http::logout() { return login_exchange("/auth_logout.action", nullptr); }

int zt_hub_http::set_password(std::string_view new_password)
{
    std::string challenge;
    if (const int r = get_challenge(&challenge); r != 0)
        return r;
    if (!key())
        return -1;
    key16 r1 = derive_f(*key(), challenge);
    key16 n = derive_f(new_password, salt());
    key16 p{};
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::uint8_t>(r1[i] ^ n[i]);
    const key16 c = derive_f(n, challenge);
    // The new key and the login response must not outlive the request.
    const std::string body = "pass=" + hex_lower(p) + "&check=" + hex_lower(c);
    wipe_key(r1);
    wipe_key(n);
    wipe_key(p);
    return post_form("/auth_set.action", body);
}

int zt_hub_http::reboot(unsigned code) { return post_form("/reboot.action", "reboot=" + std::to_string(code)); }

int zt_hub_http::sdcard_clear(unsigned code)
{
    return post_form("/sdcard_clear.action", "sdcard_clear=" + std::to_string(code));
}

int zt_hub_http::modbus_set(int start, const std::vector<int>& values)
{
    if (values.empty())
        return 200;
    std::string body = "start=" + std::to_string(start) + "&count=" + std::to_string(values.size());
    for (int v : values)
        body += "&regs[]=" + std::to_string(v);
    // Firmware that wants the token on GETs may want it here too; the form
    // body is its only place on a POST.
    return post_form("/modbus_set.action", with_auth(std::move(body)));
}

int zt_hub_http::get_config_file_raw(byte_vector& out, std::size_t limit) { return get_raw("/config.cfg", out, limit); }
json_ptr zt_hub_http::get_config_file(std::size_t limit) { return get_parsed("/config.cfg", limit); }

int zt_hub_http::get_gen_conf_raw(byte_vector& out, std::size_t limit)
{
    return get_raw(with_auth("/gen_conf_get.action"), out, limit);
}
json_ptr zt_hub_http::get_gen_conf(std::size_t limit) { return get_parsed(with_auth("/gen_conf_get.action"), limit); }
json_ptr zt_hub_http::get_conf(std::size_t limit) { return get_parsed(with_auth("/conf_get.action"), limit); }

int zt_hub_http::get_tap_details_raw(byte_vector& out, std::size_t limit)
{
    return get_raw("/tap_details.action", out, limit);
}
json_ptr zt_hub_http::get_tap_details(std::size_t limit) { return get_parsed("/tap_details.action", limit); }

int zt_hub_http::get_config_cats_raw(byte_vector& out, std::size_t limit)
{
    return get_raw("/config_cats.action", out, limit);
}
json_ptr zt_hub_http::get_config_cats(std::size_t limit) { return get_parsed("/config_cats.action", limit); }

json_ptr zt_hub_http::modbus_get(int start, int count, int interval, std::size_t limit)
{
    return get_parsed(with_auth("/modbus_get.action?start=" + std::to_string(start) + "&count=" +
                                std::to_string(count) + "&interval=" + std::to_string(interval)),
                      limit);
}

int zt_hub_http::upload_net_firmware(const byte_vector& image, const progress_range& progress,
                                     std::size_t byte_count)
{
    const std::span<const std::uint8_t> sent(image.data(), firmware_bytes_to_send(image.size(), byte_count));
    return upload_with_progress("/fw_net_file.action", {sent}, progress);
}

int zt_hub_http::upload_sys_firmware(const byte_vector& image, int target, const progress_range& progress,
                                     std::size_t byte_count)
{
    if (target < 0)
        return upload_net_firmware(image, progress, byte_count);
    const std::string target_text = std::to_string(target);
    const std::span<const std::uint8_t> sent(image.data(), firmware_bytes_to_send(image.size(), byte_count));
    return upload_with_progress("/fw_sys_file.action", {bytes_of(target_text), sent}, progress);
}

int zt_hub_http::set_config(const byte_vector& config, unsigned category, const progress_range& progress)
{
    const std::string category_text = std::to_string(category);
    return post_multipart("/config_set.action", {bytes_of(category_text), config}, progress);
}

int zt_hub_http::upload_customisation(const byte_vector& file, const progress_range& progress)
{
    return post_multipart("/customise_file.action", {file}, progress);
}

} // namespace talvor

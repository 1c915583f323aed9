#include "protocol/zt_hub_wss.h"

#include <algorithm>

#include "protocol/wss_reply.h"
#include "transport/json_text.h"

namespace talvor {

namespace {

// Salt, role and status-only replies are short; the room is generous so a
// chatty firmware's payload does not fail the request.
constexpr std::size_t text_capacity = 4096;
constexpr std::size_t min_read_capacity = 256;

std::string as_text(const byte_vector& bytes) { return std::string(bytes.begin(), bytes.end()); }

int challenge_result(int open_code) { return open_code == tcode::certificate_problem ? -1000 : -1; }

} // namespace

zt_hub_wss::zt_hub_wss(std::shared_ptr<conn_sess> session) : hub_base(std::move(session)) {}

zt_hub_wss::~zt_hub_wss() = default;

bool zt_hub_wss::socket_open() const { return socket_ && socket_->is_open(); }

int zt_hub_wss::open_socket()
{
    drop_connection();
    auto socket = std::make_unique<ws_socket>(session_);
    std::uint32_t found = 0;
    const int code = socket->open(accepted_problems, found);
    if (code == tcode::certificate_problem)
        found_problems = found;
    if (code != tcode::ok)
        return code;
    {
        std::lock_guard g(cert_lock_);
        server_cert_ = socket->server_certificate();
    }
    socket_ = std::move(socket);
    return tcode::ok;
}

void zt_hub_wss::drop_connection()
{
    {
        std::lock_guard g(cert_lock_);
        server_cert_.clear();
    }
    if (socket_)
        socket_->close();
    socket_.reset();
}

int zt_hub_wss::request(std::string_view name, std::string_view data, const byte_vector* file, byte_vector& payload,
                        std::size_t capacity)
{
    if (file)
        return request(name, data, std::span<const std::uint8_t>(*file), payload, capacity);
    return request(name, data, std::nullopt, payload, capacity);
}

int zt_hub_wss::request(std::string_view name, std::string_view data,
                        std::optional<std::span<const std::uint8_t>> file, byte_vector& payload, std::size_t capacity)
{
    if (!socket_open())
        return -1;
    counter_ = next_request_number(counter_);
    const std::uint32_t id = counter_;

    const std::string envelope = json_text::envelope(id, name, data);
    byte_vector message(envelope.begin(), envelope.end());
    if (file)
        message.push_back(0);
    // The file goes from where it lies: many units share one large image.
    if (socket_->send(message, file ? *file : std::span<const std::uint8_t>()) != tcode::ok) {
        drop_connection();
        return -1;
    }

    byte_vector reply;
    bool overflow = false;
    if (socket_->receive(reply, capacity, overflow) != tcode::ok) {
        drop_connection();
        return -1;
    }
    // The transport has read the oversized message to its end, so the
    // socket is still in step; only this request fails.
    if (overflow)
        return -1;
    const int status = check_reply(reply, id);
    if (status >= 0)
        payload = std::move(reply);
    return status;
}

int zt_hub_wss::request_status(std::string_view name, std::string_view data, const byte_vector* file)
{
    byte_vector ignored;
    return request(name, data, file, ignored, text_capacity);
}

int zt_hub_wss::get_raw(std::string_view name, byte_vector& out, std::size_t limit)
{
    byte_vector payload;
    const int status = request(name, {}, nullptr, payload, std::max(limit, min_read_capacity));
    if (status == 200)
        out = std::move(payload);
    return status;
}

json_ptr zt_hub_wss::get_parsed(std::string_view name, std::size_t limit, std::string_view data)
{
    byte_vector payload;
    if (request(name, data, nullptr, payload, std::max(limit, min_read_capacity)) != 200)
        return nullptr;
    return json_parser::from(as_text(payload));
}

int zt_hub_wss::get_challenge(std::string* challenge)
{
    // The channel is TLS: there is no challenge, only the salt.
    if (challenge)
        challenge->clear();
    if (!socket_open())
        if (const int code = open_socket(); code != tcode::ok)
            return challenge_result(code);

    byte_vector salt;
    int status = request("auth_salt.action", {}, nullptr, salt, text_capacity);
    if (status < 0) {
        // Units close idle sockets; that must not fail the next job.
        if (!socket_open() && open_socket() != tcode::ok)
            return -1;
        status = request("auth_salt.action", {}, nullptr, salt, text_capacity);
    }
    if (status != 200)
        return -1;
    store_salt(as_text(salt));
    return 0;
}

int zt_hub_wss::pass_request(std::string_view name, std::string* role)
{
    if (!key())
        return -1;
    byte_vector payload;
    const int status = request(name, json_text::pass_data(hex_lower(*key())), nullptr, payload, text_capacity);
    if (status == 200 && role)
        *role = as_text(payload);
    return status;
}

int zt_hub_wss::login(std::string* role)
{
    if (role)
        return pass_request("auth_login.action", role);
    std::string own;
    const int status = pass_request("auth_login.action", &own);
    return status == 200 && own != "admin" ? 403 : status;
}

int zt_hub_wss::logout() { return pass_request("auth_logout.action", nullptr); }

int zt_hub_wss::set_password(std::string_view new_password)
{
    if (const int r = get_challenge(nullptr); r != 0)
        return r;
    if (!key())
        return -1;
    // The check is the new key itself: neither copy outlives the request.
    key16 new_key = derive_f(new_password, salt());
    std::string check = hex_lower(new_key);
    wipe_key(new_key);
    std::string data = json_text::set_password_data(hex_lower(*key()), check);
    wipe_text(check);
    const int status = request_status("auth_set.action", data);
    wipe_text(data);
    return status;
}

int zt_hub_wss::get_config_file_raw(byte_vector& out, std::size_t limit) { return get_raw("config.cfg", out, limit); }
int zt_hub_wss::get_gen_conf_raw(byte_vector& out, std::size_t limit)
{
    return get_raw("gen_conf_get.action", out, limit);
}
int zt_hub_wss::get_tap_details_raw(byte_vector& out, std::size_t limit)
{
    return get_raw("tap_details.action", out, limit);
}
int zt_hub_wss::get_config_cats_raw(byte_vector& out, std::size_t limit)
{
    return get_raw("config_cats.action", out, limit);
}

json_ptr zt_hub_wss::get_config_file(std::size_t limit) { return get_parsed("config.cfg", limit); }
json_ptr zt_hub_wss::get_gen_conf(std::size_t limit) { return get_parsed("gen_conf_get.action", limit); }
json_ptr zt_hub_wss::get_conf(std::size_t limit) { return get_parsed("conf_get.action", limit); }
json_ptr zt_hub_wss::get_tap_details(std::size_t limit) { return get_parsed("tap_details.action", limit); }
json_ptr zt_hub_wss::get_config_cats(std::size_t limit) { return get_parsed("config_cats.action", limit); }

json_ptr zt_hub_wss::modbus_get(int start, int count, int interval, std::size_t limit)
{
    return get_parsed("modbus_get.action", limit, json_text::modbus_read_data(start, count, interval));
}

int zt_hub_wss::modbus_set(int start, const std::vector<int>& values)
{
    if (values.empty())
        return 200;
    return request_status("modbus_set.action", json_text::modbus_write_data(start, values));
}

int zt_hub_wss::reboot(unsigned code) { return request_status("reboot.action", json_text::reboot_data(code)); }

int zt_hub_wss::sdcard_clear(unsigned code)
{
    return request_status("sdcard_clear.action", json_text::sdcard_clear_data(code));
}

int zt_hub_wss::firmware_upload(std::string_view name, std::string_view data, const byte_vector& image,
                                const progress_range& progress, std::size_t byte_count)
{
    if (options_ & option_no_progress)
        return -1;
    byte_vector ignored;
    const std::span<const std::uint8_t> sent(image.data(), firmware_bytes_to_send(image.size(), byte_count));
    const int status = request(name, data, sent, ignored, text_capacity);
    if (status != 200)
        return status;
    return follow_progress([this] { return get_parsed("prog_get.action", progress_reply_limit); }, progress);
}

int zt_hub_wss::upload_net_firmware(const byte_vector& image, const progress_range& progress,
                                    std::size_t byte_count)
{
    return firmware_upload("fw_net_file.action", {}, image, progress, byte_count);
}

int zt_hub_wss::upload_sys_firmware(const byte_vector& image, int target, const progress_range& progress,
                                    std::size_t byte_count)
{
    if (target < 0)
        return upload_net_firmware(image, progress, byte_count);
    return firmware_upload("fw_sys_file.action", json_text::target_data(target), image, progress, byte_count);
}

int zt_hub_wss::set_config(const byte_vector& config, unsigned category, const progress_range&)
{
    return request_status("config_set.action", json_text::category_data(category), &config);
}

int zt_hub_wss::upload_customisation(const byte_vector& file, const progress_range&)
{
    return request_status("customise_file.action", {}, &file);
}

int zt_hub_wss::cert_upload(const byte_vector& file, const progress_range&)
{
    return request_status("cert_upload.action", {}, &file);
}

int zt_hub_wss::priv_upload(const byte_vector& file, const progress_range&)
{
    return request_status("priv_upload.action", {}, &file);
}

int zt_hub_wss::cert_default_regen() { return request_status("cert_default_regen.action"); }
int zt_hub_wss::cert_clear() { return request_status("cert_clear.action"); }

byte_vector zt_hub_wss::get_server_cert()
{
    std::lock_guard g(cert_lock_);
    return server_cert_;
}

} // namespace talvor

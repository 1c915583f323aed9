#pragma once
// A unit without a network: canned replies per request, every call recorded.
#include <atomic>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/zt_hub.h"

namespace talvor::test {

class fake_hub : public zt_hub {
public:
    // Replies are handed out in order; an empty queue (or std::nullopt)
    // means "no reply".
    std::deque<std::optional<std::string>> gen_conf, conf, config_cats, tap_details;
    std::map<int, std::string> modbus_by_start; // modbus_get replies
    std::optional<std::vector<int>> sd_registers; // modbus_read of the SD-card size
    int kind = protocol_http;

    std::vector<std::string> calls;
    std::uint32_t flags = 0;
    std::atomic<bool> cancelled{false};

    json_ptr next(std::deque<std::optional<std::string>>& q, const char* name)
    {
        calls.emplace_back(name);
        if (q.empty())
            return nullptr;
        auto r = q.front();
        q.pop_front();
        return r ? json_parser::from(*r) : nullptr;
    }

    int get_challenge(std::string*) override { return 0; }
    int derive_key(std::string_view) override { return 0; }
    int set_password(std::string_view) override { return 200; }
    int logout() override { calls.emplace_back("logout"); return 200; }
    int login(std::string*) override { return 200; }
    bool csrf_needs_renewal() override { return false; }
    int get_config_file_raw(byte_vector&, std::size_t) override { return -1; }
    int upload_net_firmware(const byte_vector&, const progress_range&, std::size_t) override { return -1; }
    int upload_sys_firmware(const byte_vector&, int, const progress_range&, std::size_t) override { return -1; }
    int reboot(unsigned) override { return -1; }
    json_ptr get_config_cats(std::size_t) override { return next(config_cats, "get_config_cats"); }
    int set_config(const byte_vector&, unsigned, const progress_range&) override { return -1; }
    int get_gen_conf_raw(byte_vector&, std::size_t) override { return -1; }
    int get_tap_details_raw(byte_vector&, std::size_t) override { return -1; }
    int get_config_cats_raw(byte_vector&, std::size_t) override { return -1; }
    json_ptr get_gen_conf(std::size_t) override { return next(gen_conf, "get_gen_conf"); }
    json_ptr get_tap_details(std::size_t) override { return next(tap_details, "get_tap_details"); }
    json_ptr get_config_file(std::size_t) override { return nullptr; }
    bool has_key() override { return true; }
    int modbus_read(std::vector<int>& out, int start, int count, int, std::size_t) override
    {
        calls.push_back("modbus_read " + std::to_string(start) + " " + std::to_string(count));
        if (!sd_registers)
            return -1;
        out = *sd_registers;
        return 0;
    }
    json_ptr modbus_get(int start, int count, int interval, std::size_t) override
    {
        calls.push_back("modbus_get " + std::to_string(start) + " " + std::to_string(count) + " " +
                        std::to_string(interval));
        auto it = modbus_by_start.find(start);
        return it == modbus_by_start.end() ? nullptr : json_parser::from(it->second);
    }
    void set_flags(std::uint32_t bits) override { flags |= bits; }
    void clear_flags() override { flags = 0; }
    json_ptr get_conf(std::size_t) override { return next(conf, "get_conf"); }
    int sdcard_clear(unsigned) override { return -1; }
    int upload_customisation(const byte_vector&, const progress_range&) override { return -1; }
    int modbus_set(int, const std::vector<int>&) override { return -1; }
    bool wait_cancel(int) override { return !cancelled; }
    void set_cancel(bool on) override { cancelled = on; }
    void drop_connection() override {}
    int protocol_kind() const override { return kind; }
    int cert_upload(const byte_vector&, const progress_range&) override { return -1; }
    int priv_upload(const byte_vector&, const progress_range&) override { return -1; }
    int cert_default_regen() override { return -1; }
    int cert_clear() override { return -1; }
    byte_vector get_server_cert() override { return {}; }
};

} // namespace talvor::test

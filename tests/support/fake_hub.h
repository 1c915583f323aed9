#pragma once
// A hub client without a network. Reads hand out replies queued by the test
// and are recorded in `calls`. Without a fake_unit it is logged in already;
// with one, its login side plays that unit's knobs (shared, so that a test
// sees what every client made for the unit did).
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/zt_hub.h"

namespace talvor::test {

struct fake_unit {
    std::string password = "secret";
    bool http = true;           // plain HTTP: problem 8 unless accepted
    std::uint32_t tls_problems = 0; // for a TLS unit: problems until accepted
    int challenge_result = 0;   // forced result of get_challenge when not 0
    int renewals = 0;           // logins answered with a csrf that needs renewal
    int logout_result = 200;
    int login_status_override = 0; // e.g. 500
    std::function<void()> on_login; // runs inside each login (before the answer)
    std::string gen_conf = "{}";    // what the unit says about itself; empty: no reply
    bool answers_probe = true;      // false: the probe gets no answer at all

    std::atomic<int> logins{0};
    std::atomic<int> logged_in{0};
    std::atomic<int> derive_calls{0};
    std::atomic<int> challenges{0};
};

class fake_hub final : public zt_hub {
public:
    fake_hub() = default;
    fake_hub(std::shared_ptr<fake_unit> unit, int tls_checks) : unit_(std::move(unit))
    {
        allowed_problems = accepted_problems = problems_allowed_by(tls_checks);
    }

    // Replies are handed out in order; an empty queue (or std::nullopt)
    // means "no reply" (a unit's gen_conf when it has one).
    std::deque<std::optional<std::string>> gen_conf, conf, config_cats, tap_details;
    std::map<int, std::string> modbus_by_start; // modbus_get replies
    std::optional<std::vector<int>> sd_registers; // modbus_read of the SD-card size
    int kind = protocol_http; // without a unit

    std::vector<std::string> calls;
    std::uint32_t flags = 0;
    std::atomic<bool> cancelled{false};

    int get_challenge(std::string*) override
    {
        if (!unit_)
            return 0;
        ++unit_->challenges;
        if (unit_->challenge_result != 0)
            return unit_->challenge_result;
        const std::uint32_t problems = unit_->http ? problem_unencrypted : unit_->tls_problems;
        if (problems & ~accepted_problems) {
            found_problems = problems & ~accepted_problems;
            return -1000;
        }
        found_problems = 0;
        return 0;
    }
    int derive_key(std::string_view password) override
    {
        if (unit_)
            ++unit_->derive_calls;
        key_ = std::string(password);
        has_key_ = true;
        return 0;
    }
    int set_password(std::string_view) override { return unit_ ? -1 : 200; }
    int logout() override
    {
        calls.emplace_back("logout");
        return unit_ ? unit_->logout_result : 200;
    }
    int login(std::string*) override
    {
        if (!unit_)
            return 200;
        ++unit_->logins;
        if (unit_->on_login)
            unit_->on_login();
        if (unit_->login_status_override)
            return unit_->login_status_override;
        if (!has_key_ || key_ != unit_->password)
            return 403;
        needs_renewal_ = unit_->renewals > 0;
        if (needs_renewal_)
            --unit_->renewals;
        else
            ++unit_->logged_in;
        return 200;
    }
    bool csrf_needs_renewal() override { return needs_renewal_; }
    int get_config_file_raw(byte_vector&, std::size_t) override { return -1; }
    int upload_net_firmware(const byte_vector&, const progress_range&, std::size_t) override { return -1; }
    int upload_sys_firmware(const byte_vector&, int, const progress_range&, std::size_t) override { return -1; }
    int reboot(unsigned) override { return -1; }
    json_ptr get_config_cats(std::size_t) override { return next(config_cats, "get_config_cats"); }
    int set_config(const byte_vector&, unsigned, const progress_range&) override { return -1; }
    int get_gen_conf_raw(byte_vector&, std::size_t) override { return -1; }
    int get_tap_details_raw(byte_vector&, std::size_t) override { return -1; }
    int get_config_cats_raw(byte_vector&, std::size_t) override { return -1; }
    json_ptr get_gen_conf(std::size_t) override
    {
        if (gen_conf.empty() && unit_)
            return unit_->gen_conf.empty() ? nullptr : json_parser::from(unit_->gen_conf);
        return next(gen_conf, "get_gen_conf");
    }
    json_ptr get_tap_details(std::size_t) override { return next(tap_details, "get_tap_details"); }
    json_ptr get_config_file(std::size_t) override { return nullptr; }
    bool has_key() override { return !unit_ || has_key_; }
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
    int protocol_kind() const override
    {
        if (!unit_)
            return kind;
        return unit_->http ? protocol_http : protocol_wss;
    }
    int cert_upload(const byte_vector&, const progress_range&) override { return -1; }
    int priv_upload(const byte_vector&, const progress_range&) override { return -1; }
    int cert_default_regen() override { return -1; }
    int cert_clear() override { return -1; }
    byte_vector get_server_cert() override { return {}; }

private:
    json_ptr next(std::deque<std::optional<std::string>>& q, const char* name)
    {
        calls.emplace_back(name);
        if (q.empty())
            return nullptr;
        auto r = q.front();
        q.pop_front();
        return r ? json_parser::from(*r) : nullptr;
    }

    std::shared_ptr<fake_unit> unit_;
    std::string key_;
    bool has_key_ = false;
    bool needs_renewal_ = false;
};

} // namespace talvor::test

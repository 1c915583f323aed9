#pragma once
// A hub client that plays a unit's login side from a few knobs, for the
// login logic without a network.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

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
    explicit fake_hub(std::shared_ptr<fake_unit> unit, int tls_checks) : unit_(std::move(unit))
    {
        allowed_problems = accepted_problems = problems_allowed_by(tls_checks);
    }

    int get_challenge(std::string*) override
    {
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
        ++unit_->derive_calls;
        key_ = std::string(password);
        has_key_ = true;
        return 0;
    }
    int set_password(std::string_view) override { return -1; }
    int logout() override { return unit_->logout_result; }
    int login(std::string*) override
    {
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
    json_ptr get_config_cats(std::size_t) override { return nullptr; }
    int set_config(const byte_vector&, unsigned, const progress_range&) override { return -1; }
    int get_gen_conf_raw(byte_vector&, std::size_t) override { return -1; }
    int get_tap_details_raw(byte_vector&, std::size_t) override { return -1; }
    int get_config_cats_raw(byte_vector&, std::size_t) override { return -1; }
    json_ptr get_gen_conf(std::size_t) override
    {
        return unit_->gen_conf.empty() ? nullptr : json_parser::from(unit_->gen_conf);
    }
    json_ptr get_tap_details(std::size_t) override { return nullptr; }
    json_ptr get_config_file(std::size_t) override { return nullptr; }
    bool has_key() override { return has_key_; }
    int modbus_read(std::vector<int>&, int, int, int, std::size_t) override { return -1; }
    json_ptr modbus_get(int, int, int, std::size_t) override { return nullptr; }
    void set_flags(std::uint32_t) override {}
    void clear_flags() override {}
    json_ptr get_conf(std::size_t) override { return nullptr; }
    int sdcard_clear(unsigned) override { return -1; }
    int upload_customisation(const byte_vector&, const progress_range&) override { return -1; }
    int modbus_set(int, const std::vector<int>&) override { return -1; }
    bool wait_cancel(int) override { return !cancelled_; }
    void set_cancel(bool on) override { cancelled_ = on; }
    void drop_connection() override {}
    int protocol_kind() const override { return unit_->http ? protocol_http : protocol_wss; }
    int cert_upload(const byte_vector&, const progress_range&) override { return -1; }
    int priv_upload(const byte_vector&, const progress_range&) override { return -1; }
    int cert_default_regen() override { return -1; }
    int cert_clear() override { return -1; }
    byte_vector get_server_cert() override { return {}; }

private:
    std::shared_ptr<fake_unit> unit_;
    std::string key_;
    bool has_key_ = false;
    bool needs_renewal_ = false;
    std::atomic<bool> cancelled_{false};
};

} // namespace talvor::test

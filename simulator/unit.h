#pragma once
// One simulated unit: its fixed description and the state its requests
// change, shared by its HTTP, WebSocket and discovery sides.
#include "simulator/certs.h"
#include "simulator/fleet.h"
#include "simulator/hubsim.h"
#include "simulator/key_f.h"

#include <boost/json/value.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace talvor::sim {

struct upload_summary {
    std::int64_t length = -1; // -1: no firmware file in this request
    std::string sha256;
    std::int64_t target = -1;
};
std::string sha256_hex(std::string_view bytes);

class unit {
public:
    explicit unit(unit_config config);

    const unit_config cfg;

    // Faults: true = every operation, a list = those operations ("gen_conf_get.action");
    // NAME_once switches off for an operation once used.
    bool fault(std::string_view name, std::string_view op) const;
    // A numeric fault (slow_upload ms); 0 when off.
    int fault_number(std::string_view name) const;
    // Status forced on an operation by the "fail" fault object; 0 when none.
    // A list consumes one status per request (0: answered normally).
    int forced_status(std::string_view op);
    void set_fault(std::string_view name, const boost::json::value& value);
    // A fault timed in ms ("restart_upload": 3000); NAME_once acts once, then is off. 0 when off.
    int take_fault_ms(std::string_view name);

    // The random fault mode: what befalls the next request, from the unit's
    // own sequence, so a run with the same seed repeats exactly.
    enum class mishap { none, drop, stall, status_500, close };
    mishap draw_mishap(int& stall_ms);

    // HTTP login: a fresh challenge, then responses computed from it.
    std::string http_challenge_reply();
    struct login_result {
        bool ok = false;
        std::string csrf, auth; // cookies handed out on success
    };
    login_result http_login(std::string_view pass_hex);
    bool http_logout(std::string_view pass_hex);
    bool http_set_password(std::string_view pass_hex, std::string_view check_hex);
    bool csrf_ok(std::string_view query) const;
    bool auth_ok(std::string_view token) const;
    bool http_logged_in() const;

    // WebSocket login: hex(key) travels as it is.
    bool key_matches(std::string_view pass_hex) const;
    bool wss_set_password(std::string_view pass_hex, std::string_view check_hex);

    std::string password() const;
    bool password_matches(std::string_view candidate) const;
    // The login faults: login_403 always, refuse_new_login once the
    // password has been changed over the wire.
    bool refuses_login(std::string_view op) const;
    void set_password(std::string_view password);

    std::vector<std::uint16_t> read_registers(int start, int count) const;
    void write_registers(int start, const std::vector<std::int64_t>& values);
    std::uint16_t register_value(int reg) const;

    void record(std::string kind, std::int64_t number, std::string bytes);
    // A firmware file received: recorded (its bytes only with keep_uploads)
    // and summarised for the request log.
    upload_summary record_firmware(std::string kind, std::int64_t target, std::string bytes);
    std::vector<unit_event> events() const;
    std::string last_upload(std::string_view kind) const;

    // Certificates (wss). Uploads and regeneration take effect at the next
    // restart; the generation changes whenever the presented one does.
    void set_fallback_cert(issued_cert cert, std::function<issued_cert()> reissue);
    std::pair<std::uint64_t, issued_cert> served_cert() const;
    void store_user_cert(std::string file);
    void store_user_key(std::string file);
    void regenerate_fallback(); // also drops the user certificate and key
    void clear_user_cert();

    // Restarts. Codes 1 and 7 restart the unit (when cfg.restart_ms >= 0)
    // once the reply has been written: the session that wrote it calls
    // restart_if_pending. A restarted unit closes every connection and
    // closes new ones at once until cfg.restart_ms have passed.
    void reboot_requested(std::int64_t argument);
    void restart_if_pending();
    bool down() const;
    // Restarts at once for ms, dropping whatever the unit was receiving.
    void restart_for(int ms);
    // The link_down fault: armed by the next connection attempt, the link
    // then cuts every connection and refuses new ones for its time.
    bool link_refuses();
    // Open connections, closed by a restart; `close` may run on any thread.
    std::uint64_t add_connection(std::function<void()> close);
    void remove_connection(std::uint64_t id);

    // After a firmware upload every poll takes the next step of the sequence.
    void start_progress();
    std::string progress_reply();
    // The general configuration as served: with an installed firmware's
    // version in place of the configured one.
    std::string gen_conf() const;

private:
    mutable std::mutex mutex_;
    mutable boost::json::object faults_; // _once faults wear off as they are used
    key_bytes key_{};
    std::string password_;
    bool password_changed_ = false; // by auth_set
    std::string challenge_;
    std::string csrf_, auth_;
    std::size_t csrf_next_ = 0;
    bool http_logged_in_ = false;
    std::map<int, std::uint16_t> registers_;
    std::vector<unit_event> events_;
    std::vector<std::pair<int, int>> progress_;
    std::size_t progress_step_ = 0;
    std::mt19937_64 random_;
    std::mt19937_64 mishaps_; // seeded from the random fault, apart from random_
    std::chrono::steady_clock::time_point link_up_at_{};
    issued_cert fallback_, served_;
    std::uint64_t served_generation_ = 0;
    std::function<issued_cert()> reissue_;
    std::string user_cert_, user_key_;
    bool restart_pending_ = false;
    int restart_down_ms_ = 0;
    // A unit firmware received with install_ms set: installed (restart, new
    // version) once a progress poll has reported it done.
    std::optional<std::string> install_pending_;
    std::string installed_version_;
    std::chrono::steady_clock::time_point down_until_{};
    std::map<std::uint64_t, std::function<void()>> connections_;
    std::uint64_t next_connection_ = 0;

    std::string random_hex(std::size_t digits);
    void seed_mishaps();
    std::vector<std::function<void()>> connection_closers() const;
    std::string next_csrf();
};

} // namespace talvor::sim

#pragma once
// The client of one unit. Two implementations: zt_hub_http (".action" paths
// over plain HTTP) and zt_hub_wss (numbered JSON requests over a TLS
// WebSocket). make_hub probes the unit and builds the right one.
//
// Results: 200 success, the unit's own status, -1 a local failure, -1000 a
// security problem not accepted, transport codes - 1000 (-998 cancelled).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transport/conn_sess.h"
#include "transport/json_parser.h"
#include "transport/progress.h"

namespace talvor {

// Option flags.
inline constexpr std::uint32_t option_auth_query = 1;  // auth cookie on gen_conf/conf/modbus_get paths (HTTP)
inline constexpr std::uint32_t option_no_progress = 2; // do not poll upload progress

inline constexpr std::size_t reply_limit = 0x1000000; // what callers pass to parsed reads
inline constexpr std::size_t progress_reply_limit = 4096;

class zt_hub {
public:
    std::uint32_t allowed_problems = 0;  // accepted by the settings without asking
    std::uint32_t found_problems = 0;    // found by the last get_challenge
    std::uint32_t accepted_problems = 0; // accepted for this connection

    virtual ~zt_hub() = default;                                                                     // 0
    virtual int get_challenge(std::string* challenge) = 0;                                          // 1
    virtual int derive_key(std::string_view password) = 0;                                          // 2
    virtual int set_password(std::string_view new_password) = 0;                                    // 3
    virtual int logout() = 0;                                                                       // 4
    virtual int login(std::string* role) = 0;                                                       // 5
    virtual bool csrf_needs_renewal() = 0;                                                          // 6
    virtual int get_config_file_raw(byte_vector& out, std::size_t limit) = 0;                       // 7
    virtual int upload_net_firmware(const byte_vector& image, const progress_range& progress,
                                    std::size_t byte_count) = 0;                                    // 8
    virtual int upload_sys_firmware(const byte_vector& image, int target, const progress_range& progress,
                                    std::size_t byte_count) = 0;                                    // 9
    virtual int reboot(unsigned code) = 0;                                                          // 10
    virtual json_ptr get_config_cats(std::size_t limit) = 0;                                        // 11
    virtual int set_config(const byte_vector& config, unsigned category, const progress_range& progress) = 0; // 12
    virtual int get_gen_conf_raw(byte_vector& out, std::size_t limit) = 0;                          // 13
    virtual int get_tap_details_raw(byte_vector& out, std::size_t limit) = 0;                       // 14
    virtual int get_config_cats_raw(byte_vector& out, std::size_t limit) = 0;                       // 15
    virtual json_ptr get_gen_conf(std::size_t limit) = 0;                                           // 16
    virtual json_ptr get_tap_details(std::size_t limit) = 0;                                        // 17
    virtual json_ptr get_config_file(std::size_t limit) = 0;                                        // 18
    virtual bool has_key() = 0;                                                                     // 19
    virtual int modbus_read(std::vector<int>& out, int start, int count, int interval, std::size_t limit) = 0; // 20
    virtual json_ptr modbus_get(int start, int count, int interval, std::size_t limit) = 0;         // 21
    virtual void set_flags(std::uint32_t bits) = 0;                                                 // 22
    virtual void clear_flags() = 0;                                                                 // 23
    virtual json_ptr get_conf(std::size_t limit) = 0;                                               // 24
    virtual int sdcard_clear(unsigned code) = 0;                                                    // 25
    virtual int upload_customisation(const byte_vector& file, const progress_range& progress) = 0;  // 26
    virtual int modbus_set(int start, const std::vector<int>& values) = 0;                          // 27
    virtual bool wait_cancel(int ms) = 0;                                                           // 28
    virtual void set_cancel(bool on) = 0;                                                           // 29
    virtual void drop_connection() = 0;                                                             // 30
    virtual int protocol_kind() const = 0;                                                          // 31
    virtual int cert_upload(const byte_vector& file, const progress_range& progress) = 0;           // 32
    virtual int priv_upload(const byte_vector& file, const progress_range& progress) = 0;           // 33
    virtual int cert_default_regen() = 0;                                                           // 34
    virtual int cert_clear() = 0;                                                                   // 35
    // DER bytes of the open socket's certificate; empty when none (HTTP: always).
    virtual byte_vector get_server_cert() = 0;                                                      // 36
};

inline constexpr int protocol_http = 1;
inline constexpr int protocol_wss = 2;

// Problems the TLS-check level accepts without asking: 0 None -> 15,
// 1 Standard -> 1, 2 Strict (and anything else) -> 0.
std::uint32_t problems_allowed_by(int tls_checks);

// What probing a unit gave: its client, or none and whether the unit
// answered at all (a time-out, an unreachable unit or a cancel did not).
struct probe_result {
    std::unique_ptr<zt_hub> hub;
    bool answered = true;

    probe_result() = default;
    probe_result(std::nullptr_t) {}
    probe_result(std::unique_ptr<zt_hub> client) : hub(std::move(client)) {}
    static probe_result no_answer()
    {
        probe_result r;
        r.answered = false;
        return r;
    }
};

// Probes "/XYZZY.ASD" over `session`, whose cancel cuts the probe short, and
// builds the client on that session.
probe_result probe_hub(std::shared_ptr<conn_sess> session, int tls_checks);

// The same on a session of its own; null when the unit answers neither way.
// Throws only where creating the session throws.
std::unique_ptr<zt_hub> make_hub(const ip_address& address, std::string_view user_agent, int tls_checks);

// The application name sent as User-Agent.
inline constexpr std::string_view user_agent_text = "Talvor Manager";

} // namespace talvor

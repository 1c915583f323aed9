#pragma once
// A fleet of simulated hub units served from one process. Tests start it
// in-process; the talvor-hubsim program wraps it. The fleet JSON format is
// described in simulator/README.md.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvor::sim {

// One request as a unit received it. HTTP: method "GET"/"POST", target the
// request target with its query ("/reboot.action?00ab"). WebSocket: method
// "WS", target the envelope's request name, body the whole binary message
// (envelope, then NUL and file bytes when a file rides along). Discovery:
// method "UDP", target "discover", body the datagram.
struct request_entry {
    std::string unit;
    std::string address;
    std::int64_t time_ms = 0; // system clock, milliseconds since 1970
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers; // HTTP only, as received
    std::string body;
    int status = 0; // status answered; 0 when nothing was answered (stall, drop, close)
    // What the random mode did to this request ("drop", "stall", "500",
    // "close"), or "restart_upload"; empty otherwise.
    std::string fault;
    // Firmware uploads only: the file as the unit took it.
    std::int64_t upload_length = -1;
    std::string upload_sha256; // lower-case hex
    std::int64_t upload_target = -1; // fw_sys target; -1 for the unit's own firmware
};

// Something a unit did on request: "login", "logout", "set_password",
// "reboot", "sdcard_clear", "modbus_set", "config", "fw_net", "fw_sys",
// "customise", "cert", "key", "cert_default_regen", "cert_clear", "restart".
// number: restart/erase code, config category, firmware target, first
// register; -1 when not applicable. bytes: the uploaded file, or for
// modbus_set the values as decimal text joined by ','.
struct unit_event {
    std::string kind;
    std::int64_t number = -1;
    std::string bytes;
};

class fleet_server {
public:
    // Parses the fleet, generates certificates under work_dir (created when
    // missing), binds every address and starts serving. Throws
    // std::runtime_error naming the unit and the reason on a bad fleet or a
    // failed bind.
    fleet_server(std::string_view fleet_json, const std::filesystem::path& work_dir);
    static std::unique_ptr<fleet_server> from_file(const std::filesystem::path& fleet_file,
                                                   const std::filesystem::path& work_dir);
    // Stops all listeners and connections (stalled ones included) and joins.
    ~fleet_server();
    fleet_server(const fleet_server&) = delete;
    fleet_server& operator=(const fleet_server&) = delete;

    std::vector<std::string> unit_names() const;
    // "name address kind" per unit, in fleet order.
    std::vector<std::string> describe() const;

    std::filesystem::path ca_cert_path() const; // PEM file under work_dir
    std::string ca_cert_der() const;
    std::string unit_cert_der(std::string_view unit) const; // what the unit presents on 443 now

    // In-memory request log (also written as JSON lines to log_path()).
    std::vector<request_entry> requests() const;
    std::vector<request_entry> requests(std::string_view unit) const;
    void clear_requests();
    std::filesystem::path log_path() const;

    std::vector<unit_event> events(std::string_view unit) const;
    // Last upload of that kind ("config", "fw_net", ...), empty when none.
    std::string last_upload(std::string_view unit, std::string_view kind) const;

    // The unit's password as last set from outside; a password changed over
    // the wire is only known as a key, so check candidates with
    // password_matches.
    std::string password(std::string_view unit) const;
    bool password_matches(std::string_view unit, std::string_view candidate) const;
    void set_password(std::string_view unit, std::string_view password);

    // Fault switches at run time: value is JSON text as in the fleet file's
    // "faults" members ("true", "false", "[\"fw_net_file.action\"]", "50").
    void set_fault(std::string_view unit, std::string_view fault, std::string_view value_json);

    std::uint16_t register_value(std::string_view unit, int reg) const;
    void set_register(std::string_view unit, int reg, std::uint16_t value);

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};

} // namespace talvor::sim

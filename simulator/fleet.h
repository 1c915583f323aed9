#pragma once
// The fleet file, read into one immutable description per unit.
#include <array>
#include <boost/json/object.hpp>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvor::sim {

enum class unit_kind { http, wss };
enum class cert_kind { valid, wrong_name, expired, not_yet_valid, wrong_usage, self_signed, legacy };
enum class discovery_mode { unit, wildcard, off };

struct discovery_reply {
    std::string form = "extended"; // extended | basic | basic_with_ext_flag | extended_without_ext_flag | bad_magic | silent
    int system_code = 622;
    std::array<std::uint8_t, 6> mac{};
    std::string id; // three characters, then nine hex digits
};

struct unit_config {
    std::string name;
    unit_kind kind = unit_kind::http;
    std::string address;
    std::string password;
    std::string salt;
    int probe_status = 404;
    int port80 = 0; // wss: 0 refused, 301 or 302
    std::string role = "admin";
    int restart_ms = -1; // -1: restart requests are only recorded; else the unit is down this long
    int install_ms = -1; // -1: firmware is only recorded; else installing it restarts the unit this long
    std::vector<std::string> csrf_sequence;
    bool csrf_check = true;
    bool require_login = true;
    bool ws_text_replies = false;
    bool keep_uploads = true; // firmware files kept in the log and events (false: only their summary)
    std::vector<std::string> extra_cookies; // raw Set-Cookie values added to every HTTP 200
    std::string gen_conf, conf, tap_details, config_cats, config_file; // served texts
    std::map<int, std::uint16_t> registers;
    cert_kind cert = cert_kind::valid;
    int tls_max = 0; // highest TLS version served (OpenSSL's TLS1_x_VERSION); 0: the library's
    std::vector<std::pair<int, int>> progress;      // (status, prog) per poll after an upload
    std::vector<std::pair<int, int>> progress_fail; // used with the progress_fail fault
    boost::json::object faults;
    discovery_reply discovery;
};

struct fleet_config {
    discovery_mode discovery = discovery_mode::unit;
    int threads = 3;
    bool wire_check = true;
    std::vector<unit_config> units;
};

// Throws std::runtime_error naming the unit and the member at fault.
fleet_config parse_fleet(std::string_view json_text);

// "00:1a:..." into six bytes; false unless exactly six groups.
bool parse_mac(std::string_view text, std::array<std::uint8_t, 6>& out);

} // namespace talvor::sim

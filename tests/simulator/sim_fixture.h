#pragma once
// Starting fleets for the simulator tests, and the client-side login steps.
#include "simulator/hubsim.h"
#include "wire_client.h"

#include <memory>
#include <string>

namespace simtest {

// A fleet in its own work folder under the temporary directory.
std::unique_ptr<talvor::sim::fleet_server> start(const std::string& fleet_json);
// The demo fleet with its 127.77.0.N addresses moved to prefix + N.
std::string demo_fleet_on(const std::string& prefix);
std::string demo_password();

// The string value of a top-level member of a small JSON text.
std::string json_string(const std::string& text, const std::string& key);

// HTTP login as the client does it; returns the answer (cookies included).
wire::http_answer http_login(const std::string& address, const std::string& password, const std::string& csrf = {});
wire::http_answer http_logout(const std::string& address, const std::string& password, const std::string& csrf);
std::string cookie(const wire::http_answer& a, const std::string& name);

// The envelope exactly as the client builds it.
std::string envelope(int id, const std::string& request, const std::string& data = {});
std::string wss_key_hex(const std::string& password, const std::string& salt);

} // namespace simtest

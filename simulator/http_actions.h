#pragma once
// What an HTTP unit answers to one request, apart from the sockets.
#include "simulator/unit.h"

#include <string>
#include <vector>

namespace talvor::sim {

enum class reply_action { send, stall, drop_body };

struct http_reply {
    int status = 200;
    std::string content_type;
    std::string body;
    std::vector<std::string> cookies; // Set-Cookie values
    std::string location;
    reply_action action = reply_action::send;
    upload_summary upload; // a firmware file received
};

// "/reboot.action?00ab" → "reboot.action"
std::string operation_of(std::string_view target);

http_reply answer_http(unit& u, const std::string& method, const std::string& target, const std::string& body);

} // namespace talvor::sim

#pragma once
// What a WebSocket unit answers to one request message, apart from the sockets.
#include "simulator/unit.h"

#include <string>

namespace talvor::sim {

enum class ws_action { reply, stall, close, drop };

struct ws_reply {
    ws_action action = ws_action::reply;
    std::string name;    // request name, "?" when the envelope was unreadable
    std::string message; // the whole reply message
    int status = 0;
    upload_summary upload; // a firmware file received
};

// logged_in is the connection's login state, changed by login and logout.
ws_reply answer_ws(unit& u, const std::string& message, bool& logged_in, bool wire_check);

} // namespace talvor::sim

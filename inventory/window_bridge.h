#pragma once
// How worker threads reach the user-interface thread: one blocking call per
// message, answered by the window's handler on the UI thread. A handler may
// reply early and then go on working, so a handler that waits for its
// sender's worker to go idle never deadlocks with that worker.
#include <cstdint>
#include <functional>

namespace talvor {

// The window's ten private messages (WM_USER + 131 to WM_USER + 140).
inline constexpr unsigned WM_UNIT_FOUND = 0x483;          // w: running number, l: const unit_address*
inline constexpr unsigned WM_UNIT_JOB_DONE = 0x484;       // w: 0, l: CHubDevice*
inline constexpr unsigned WM_DISCOVERY_DONE = 0x485;      // w: 0, l: 0
inline constexpr unsigned WM_ASK_PASSWORD = 0x486;        // w: const login_prompt*, l: byte_vector* to fill
inline constexpr unsigned WM_DROP_ADDRESS_LISTS = 0x487;  // w: const std::vector<std::filesystem::path>*
inline constexpr unsigned WM_DROP_FIRMWARE = 0x488;       // w: as above
inline constexpr unsigned WM_DROP_CONFIGURATION = 0x489;  // w: as above
inline constexpr unsigned WM_DROP_CUSTOMIZATION = 0x48A;  // w: as above
inline constexpr unsigned WM_DROP_CERTIFICATE = 0x48B;    // w: as above
inline constexpr unsigned WM_ASK_SECURITY = 0x48C;        // w: const login_prompt*, l: found_problems

struct window_message {
    unsigned id = 0;
    std::uintptr_t wparam = 0;
    std::intptr_t lparam = 0;
};

// Answer of a call the bridge refuses because the window is going away:
// prompts read it as cancelled / "no", discovery as "stop".
std::intptr_t refused_answer(unsigned id);

// Given to a handler for the one message it is handling.
class message_reply {
public:
    virtual ~message_reply() = default;
    // Releases the waiting sender with `result` now; the handler's own
    // return value is then ignored. Later calls do nothing.
    virtual void reply(std::intptr_t result) = 0;
    virtual bool replied() const = 0;
};

// The window side: runs on the UI thread only.
class message_target {
public:
    virtual ~message_target() = default;
    virtual std::intptr_t handle_message(const window_message& message, message_reply& reply) = 0;
};

class window_bridge {
public:
    virtual ~window_bridge() = default;

    // Set once, before any worker sends.
    virtual void set_target(message_target* target) = 0;
    // Blocking call into the UI thread; returns the handler's answer. Called
    // on the UI thread itself it runs the handler directly. Once shut down it
    // returns refused_answer(id) without running anything.
    virtual std::intptr_t send(const window_message& message) = 0;
    // Any thread, never waits: runs `task` on the UI thread at its next turn,
    // after the calls already waiting. Also after shut_down, until the
    // bridge goes: the task checks whatever it needs.
    virtual void post(std::function<void()> task) = 0;
    // Refuses new calls and releases every call still waiting for its turn.
    // A handler already running finishes normally.
    virtual void shut_down() = 0;
    virtual bool is_shut_down() const = 0;
    virtual bool on_ui_thread() const = 0;
};

} // namespace talvor

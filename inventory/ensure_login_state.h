#pragma once
// State the connection worker keeps: per unit, and shared by all units of
// a group (one password prompt and one security decision for many units).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/conn_sess.h"

namespace talvor {

// Why a unit could not be connected (what a front end lists on removal).
enum class unit_failure : int {
    none = 0,
    unreachable,        // the connection failed after the probe
    no_client,          // the unit answered neither protocol
    security_refused,   // the security prompt said no
    password_cancelled, // the password prompt was cancelled
    login_refused,      // the unit refused the login
    read_failed,        // logged in, but its information could not be read
    duplicate,          // its MAC is that of a unit already listed
    no_answer,          // the probe timed out, or the unit was unreachable
};
const char* failure_text(unit_failure failure);

// Per unit.
struct unit_login_state {
    // Guards the unit's `hub` pointer between its worker (which replaces it)
    // and the UI thread (which cancels it).
    std::mutex hub_lock;
    bool cancel_requested = false; // under hub_lock; a hub made later starts cancelled
    std::shared_ptr<conn_sess> probing; // under hub_lock: the session being probed
    // Password prompts this unit has taken part in since it was added.
    std::atomic<int> password_rounds{0};
    // The login of this unit was refused (403) with a password already given.
    std::atomic<bool> refused_with_password{false};
    std::atomic<unit_failure> failure{unit_failure::none};
};

// Per group: the shared password prompt and the remembered security answer.
struct shared_prompt_state {
    // Guarded by unit_group::prompt_lock.
    int waiters = 0;
    bool answered = false; // the manual-reset prompt event
    int result = 0;
    std::vector<std::uint8_t> password;
    std::condition_variable answered_changed;
    // -1 ask, 0 no to all, 1 yes to all. Atomic: the UI thread resets it
    // while a worker may hold the security mutex inside a prompt.
    std::atomic<int> security_answer{-1};
};

} // namespace talvor

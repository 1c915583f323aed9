#pragma once
// State the connection worker keeps: per unit, and shared by all units of
// a group (one password prompt and one security decision for many units).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
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
    // The security problems that were refused (failure security_refused).
    std::atomic<std::uint32_t> refused_problems{0};
    // Counted in the group's logins_expected: a job of this unit is at work
    // and has not finished logging in. Under unit_group::prompt_lock.
    bool awaiting_login = false;
};

// What a unit's prompt names: the unit, and whether the unit has just
// refused the password it was given (the message's wparam points to it).
struct login_prompt {
    std::string label;
    std::string address;
    bool refused = false;
    std::string serial; // empty until the unit has been read
};

// Per group: the shared password prompt and the remembered security answer.
struct shared_prompt_state {
    // Guarded by unit_group::prompt_lock.
    int waiters = 0;     // units waiting for the prompt being asked, the asker included
    bool asking = false; // a unit is asking (its prompt open, or waiting for its turn)
    int rounds = 0;      // prompts answered so far
    int last_result = 0; // the answer of the last prompt: 1 a password, 0 cancelled
    // The answer kept while units of the refreshes and batches at work have
    // yet to log in, so that they do not ask again: a password (result 1)
    // or a cancel (result 0). Each new answer has a new generation; a unit
    // refused with one asks for the next.
    bool kept = false;
    int result = 0;
    std::uint64_t generation = 0;
    std::vector<std::uint8_t> password;
    int logins_expected = 0; // units whose job is at work and has not logged in yet
    std::condition_variable answered_changed;
    // -1 ask, 0 no to all, 1 yes to all. Atomic: the UI thread resets it
    // while a worker may hold the security mutex inside a prompt.
    std::atomic<int> security_answer{-1};
    // The problems a remembered yes to all covers: those the prompts that
    // gave it listed. A unit with any other problem is asked again.
    std::atomic<std::uint32_t> security_covered{0};
};

} // namespace talvor

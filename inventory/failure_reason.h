#pragma once
// Why a unit could not be connected, as each front end words it. A unit
// refused for its security problems names them and the ways past them, so
// that a script's log (or the window's list) says what to do next.
#include <cstdint>
#include <string>

#include "inventory/ensure_login_state.h"

namespace talvor {

enum class reason_words { window, command_line };

// The problems in short words, in the security prompt's order:
// "unencrypted, invalid certificate, untrusted certificate, name mismatch".
std::string security_problem_words(std::uint32_t problems);

// failure_text, or the window's list's wording; for security_refused with
// the problems known, the problems and the ways on in the front end's terms.
std::string failure_reason(unit_failure failure, std::uint32_t problems, reason_words words);

} // namespace talvor

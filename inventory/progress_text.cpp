// The progress window's line under its heading, shared by every front end.
#include <string>

#include "inventory/dialogs.h"

namespace talvor {

namespace {

std::string units(int n)
{
    return std::to_string(n) + (n == 1 ? " unit" : " units");
}

} // namespace

std::string progress_summary(const progress_state& s)
{
    if (s.total <= 0)
        return {};
    std::string out = std::to_string(s.done) + " of " + units(s.total) + " done";
    if (s.failed > 0)
        out += ", " + std::to_string(s.failed) + " failed";
    if (s.waiting > 0)
        out += ", " + std::to_string(s.waiting) + " waiting";
    if (!s.finished && !s.slowest.empty())
        out += "; slowest: " + s.slowest;
    return out;
}

std::string progress_wait_text(const progress_state& s)
{
    if (s.not_answered <= 0 || s.seconds_left < 0)
        return {};
    const int seconds = s.seconds_left % 60;
    return "Waiting for " + units(s.not_answered) + " to answer again, " + std::to_string(s.seconds_left / 60) +
           (seconds < 10 ? ":0" : ":") + std::to_string(seconds) + " left";
}

} // namespace talvor

// Trusting the certificate a unit presented: it joins the per-user folder
// every later TLS check reads, so that unit passes without the question.
#include <mutex>

#include "operations/commands.h"

namespace talvor {

int trust_unit_certificate(batch_context& ctx, CHubDevice& unit, std::string* still)
{
    byte_vector der;
    std::uint32_t found = 0, allowed = 0;
    {
        // The client keeps its certificate under its own lock: reading it
        // while the worker uses the socket is safe.
        std::lock_guard<std::mutex> g(unit.login.hub_lock);
        if (unit.hub) {
            der = unit.hub->get_server_cert();
            found = unit.hub->found_problems;
            allowed = unit.hub->allowed_problems;
        }
    }
    if (der.empty() || trust_certificate(der) != 0) {
        ctx.ui.task_dialog(error_dialog(unit.label, "Certificate Import Failed",
                                        "Certificate import to user certificate store was cancelled or failed with an "
                                        "error"));
        return -1;
    }
    // Trust mends "untrusted" only: an expired certificate stays expired, and
    // one made for another name still does not name the unit.
    const std::uint32_t remaining = found & ~problem_untrusted;
    if (remaining == 0)
        return 0;
    std::string lines;
    for (const std::string& line : security_problem_lines(remaining))
        lines += (lines.empty() ? "" : ", ") + line;
    const bool refused = (remaining & ~allowed) != 0;
    const std::string text = "trusted, but the unit still " +
                             std::string(refused ? "fails the TLS checks: " : "has security problems: ") + lines;
    if (still)
        *still = text;
    task_dialog_request r;
    r.title = unit.label;
    r.main_instruction = "Certificate trusted, problems remain";
    r.content = "Trusting the certificate cannot mend these problems:\r\n\r\n";
    for (const std::string& line : security_problem_lines(remaining))
        r.content += "    \u2022    " + line + "\r\n";
    if (refused)
        r.content += "\r\nThe unit will still be asked about, or refused, at this TLS check level.";
    r.main_icon = dialog_icon::warning;
    ctx.ui.task_dialog(r);
    return refused ? 1 : 2;
}

} // namespace talvor

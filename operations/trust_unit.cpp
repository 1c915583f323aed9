// Trusting the certificate a unit presented: it joins the per-user folder
// every later TLS check reads, so that unit passes without the question.
#include <mutex>

#include "operations/commands.h"

namespace talvor {

int trust_unit_certificate(batch_context& ctx, CHubDevice& unit)
{
    byte_vector der;
    {
        // The client keeps its certificate under its own lock: reading it
        // while the worker uses the socket is safe.
        std::lock_guard<std::mutex> g(unit.login.hub_lock);
        if (unit.hub)
            der = unit.hub->get_server_cert();
    }
    if (!der.empty() && trust_certificate(der) == 0)
        return 0;
    ctx.ui.task_dialog(error_dialog(unit.label, "Certificate Import Failed",
                                    "Certificate import to user certificate store was cancelled or failed with an error"));
    return -1;
}

} // namespace talvor

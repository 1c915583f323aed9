#include "protocol/zt_hub.h"

#include "protocol/zt_hub_http.h"
#include "protocol/zt_hub_wss.h"

namespace talvor {

namespace {
constexpr int refused = tcode::connection_refused - 1000;
}

probe_result probe_hub(std::shared_ptr<conn_sess> session, int tls_checks)
{
    int status = 0;
    {
        http_exchange probe(session, false, "/XYZZY.ASD");
        status = probe.run(progress_range{});
    }
    std::unique_ptr<zt_hub> hub;
    if (status == 200 || status == 404)
        hub = std::make_unique<zt_hub_http>(std::move(session));
    else if (status == 301 || status == 302 || status == refused)
        hub = std::make_unique<zt_hub_wss>(std::move(session));
    else if (status < 0)
        return probe_result::no_answer(); // nothing came back
    else
        return nullptr;
    hub->allowed_problems = hub->accepted_problems = problems_allowed_by(tls_checks);
    return hub;
}

std::unique_ptr<zt_hub> make_hub(const ip_address& address, std::string_view user_agent, int tls_checks)
{
    return probe_hub(conn_sess::create(address, std::string(user_agent)), tls_checks).hub;
}

} // namespace talvor

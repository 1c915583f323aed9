#include "protocol/zt_hub.h"

#include "protocol/zt_hub_http.h"
#include "protocol/zt_hub_wss.h"

namespace talvor {

namespace {
constexpr int refused = tcode::connection_refused - 1000;
}

std::unique_ptr<zt_hub> make_hub(const ip_address& address, std::string_view user_agent, int tls_checks)
{
    auto session = conn_sess::create(address, std::string(user_agent));
    int status = 0;
    {
        http_exchange probe(session, false, "/XYZZY.ASD");
        status = probe.run(progress_range{});
    }
    std::unique_ptr<zt_hub> hub;
    if (status == 200 || status == 404)
        hub = std::make_unique<zt_hub_http>(session);
    else if (status == 301 || status == 302 || status == refused)
        hub = std::make_unique<zt_hub_wss>(session);
    else
        return nullptr;
    hub->allowed_problems = hub->accepted_problems = problems_allowed_by(tls_checks);
    return hub;
}

} // namespace talvor

#include "inventory/connection_worker.h"

#include <mutex>
#include <stdexcept>
#include <string>

#include "protocol/zt_hub.h"

namespace talvor {

const char* failure_text(unit_failure failure)
{
    switch (failure) {
    case unit_failure::none:
        return "none";
    case unit_failure::unreachable:
        return "unreachable";
    case unit_failure::no_answer:
        return "no answer";
    case unit_failure::no_client:
        return "answered neither protocol";
    case unit_failure::security_refused:
        return "security refused";
    case unit_failure::password_cancelled:
        return "password cancelled";
    case unit_failure::login_refused:
        return "login refused";
    case unit_failure::read_failed:
        return "information unreadable";
    case unit_failure::duplicate:
        return "duplicate";
    }
    return "unknown";
}

void install_hub(CHubDevice& unit, std::unique_ptr<zt_hub> hub)
{
    std::lock_guard<std::mutex> g(unit.login.hub_lock);
    if (hub && unit.login.cancel_requested)
        hub->set_cancel(true);
    unit.hub = std::move(hub);
}

void begin_probe(CHubDevice& unit, std::shared_ptr<conn_sess> session)
{
    std::lock_guard<std::mutex> g(unit.login.hub_lock);
    if (unit.login.cancel_requested)
        session->set_cancel(true);
    unit.login.probing = std::move(session);
}

probe_result connect_unit(CHubDevice& unit, const connection_env& env)
{
    try {
        auto session = conn_sess::create(unit.address, std::string(user_agent_text));
        if (env.step_limit.count() > 0)
            session->set_step_limit(env.step_limit);
        begin_probe(unit, session);
        return env.factory(std::move(session), env.settings->tls_checks.load());
    } catch (const std::exception&) {
        return {};
    }
}

void end_probe(CHubDevice& unit)
{
    std::shared_ptr<conn_sess> done;
    std::lock_guard<std::mutex> g(unit.login.hub_lock);
    done = std::move(unit.login.probing);
}

void cancel_unit(CHubDevice& unit)
{
    std::lock_guard<std::mutex> g(unit.login.hub_lock);
    unit.login.cancel_requested = true;
    if (unit.login.probing)
        unit.login.probing->set_cancel(true);
    if (unit.hub)
        unit.hub->set_cancel(true);
}

void lift_cancel(CHubDevice& unit)
{
    std::lock_guard<std::mutex> g(unit.login.hub_lock);
    unit.login.cancel_requested = false;
    if (unit.hub)
        unit.hub->set_cancel(false);
}

void discard_hub(CHubDevice& unit)
{
    std::unique_ptr<zt_hub> old;
    {
        std::lock_guard<std::mutex> g(unit.login.hub_lock);
        old = std::move(unit.hub);
    }
    // Closed here, outside the lock.
}

int unit_protocol(CHubDevice& unit)
{
    std::lock_guard<std::mutex> g(unit.login.hub_lock);
    return unit.hub ? unit.hub->protocol_kind() : 0;
}

std::uint32_t unit_security_problems(CHubDevice& unit)
{
    std::lock_guard<std::mutex> g(unit.login.hub_lock);
    if (!unit.hub)
        return 0;
    return unit.hub->found_problems | (unit.hub->protocol_kind() == protocol_http ? problem_unencrypted : 0);
}

} // namespace talvor

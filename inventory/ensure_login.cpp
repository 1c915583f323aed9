#include "inventory/ensure_login.h"

#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "inventory/password_text.h"
#include "inventory/unit_group.h"

namespace talvor {

namespace {

inline constexpr int login_rounds = 3;

// The unit's copy of the typed password; wiped on every return.
struct password_copy {
    byte_vector bytes;
    ~password_copy() { wipe(bytes); }
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }
};

int failed(CHubDevice& unit, unit_failure why)
{
    unit.login.failure.store(why);
    return -1;
}

// A failure the network caused, as opposed to one the unit decided.
unit_failure transport_or(int status, unit_failure otherwise)
{
    return status < 0 ? unit_failure::unreachable : otherwise;
}

// The security decision, taken under the login and the security mutex.
// Both are released before the password prompt, so units waiting for the
// same password share one prompt and log in in parallel.
bool security_accepted(CHubDevice& unit, zt_hub& hub, const connection_env& env)
{
    unit_group& group = *unit.group;
    std::lock_guard<std::mutex> login(group.login_mutex);
    std::lock_guard<std::mutex> security(group.security_mutex);
    bool yes;
    const int remembered = group.prompt.security_answer.load();
    if (remembered >= 0) {
        yes = remembered >= 1;
    } else {
        const std::intptr_t reply = env.bridge->send(
            {WM_ASK_SECURITY, reinterpret_cast<std::uintptr_t>(&unit.label), static_cast<std::intptr_t>(hub.found_problems)});
        if (reply == 2)
            group.prompt.security_answer.store(0);
        else if (reply == 3)
            group.prompt.security_answer.store(1);
        yes = reply == 1 || reply == 3;
    }
    if (yes)
        hub.accepted_problems = hub.found_problems | hub.allowed_problems;
    return yes;
}

// The shared password prompt: the first unit to arrive asks, every unit
// arriving before the last one has copied the answer uses it. Returns the
// prompt's result; the password lands in `out`.
int shared_password(CHubDevice& unit, const connection_env& env, byte_vector& out)
{
    shared_prompt_state& p = unit.group->prompt;
    std::mutex& lock = unit.group->prompt_lock;
    bool ask = false;
    {
        std::lock_guard<std::mutex> g(lock);
        if (p.waiters++ == 0) {
            p.answered = false;
            ask = true;
        }
    }
    if (ask) {
        // Only this unit touches p.password until `answered` is set: every
        // other waiter reads it after that.
        const std::intptr_t reply = env.bridge->send(
            {WM_ASK_PASSWORD, reinterpret_cast<std::uintptr_t>(&unit.label), reinterpret_cast<std::intptr_t>(&p.password)});
        std::lock_guard<std::mutex> g(lock);
        p.result = static_cast<int>(reply);
        p.answered = true;
        p.answered_changed.notify_all();
    }
    std::unique_lock<std::mutex> g(lock);
    p.answered_changed.wait(g, [&] { return p.answered; });
    const int result = p.result;
    out.assign(p.password.begin(), p.password.end());
    if (--p.waiters == 0)
        wipe(p.password);
    return result;
}

} // namespace

int ensure_login(CHubDevice& unit, const connection_env& env)
{
    unit.login.failure.store(unit_failure::none);
    password_copy password;

    // Step 1: a session and its challenge.
    int r;
    if (!unit.hub) {
        probe_result made;
        try {
            auto session = conn_sess::create(unit.address, std::string(user_agent_text));
            begin_probe(unit, session);
            made = env.factory(std::move(session), env.settings->tls_checks.load());
        } catch (const std::exception&) {
            made = probe_result{};
        }
        end_probe(unit);
        if (!made.hub)
            return failed(unit, made.answered ? unit_failure::no_client : unit_failure::no_answer);
        install_hub(unit, std::move(made.hub));
        r = unit.hub->get_challenge(nullptr);
        if (r == -1000) {
            // Step 2: a security problem the settings do not accept.
            zt_hub& hub = *unit.hub;
            if (hub.found_problems == 0)
                return failed(unit, unit_failure::unreachable);
            if (!security_accepted(unit, hub, env))
                return failed(unit, unit_failure::security_refused);
            r = hub.get_challenge(nullptr);
        }
    } else {
        r = unit.hub->get_challenge(nullptr);
    }
    if (r != 0)
        return failed(unit, r == -1000 ? unit_failure::security_refused : unit_failure::unreachable);

    zt_hub& hub = *unit.hub;
    bool password_given = false;
    for (;;) {
        // Step 3: the login loop.
        if (hub.has_key()) {
            bool refused = false;
            for (int round = 0; round < login_rounds && !refused; ++round) {
                r = hub.login(nullptr);
                if (r == 403) {
                    if (hub.logout() != 200) {
                        refused = true;
                        break;
                    }
                    r = hub.login(nullptr);
                }
                if (r == 200) {
                    if (!hub.csrf_needs_renewal())
                        return 200;
                    hub.logout();
                    continue;
                }
                if (r == 403) {
                    refused = true;
                    break;
                }
                unit.login.failure.store(transport_or(r, unit_failure::login_refused));
                return r;
            }
            if (refused && password_given)
                unit.login.refused_with_password.store(true);
        }

        // Step 4: the shared password prompt.
        if (env.max_password_rounds > 0 && unit.login.password_rounds.load() >= env.max_password_rounds)
            return failed(unit, unit_failure::login_refused);
        unit.login.password_rounds.fetch_add(1);
        const int result = shared_password(unit, env, password.bytes);
        if (result < 1)
            return failed(unit, unit_failure::password_cancelled);
        if (hub.derive_key(password.view()) != 0)
            return failed(unit, unit_failure::login_refused);
        wipe(password.bytes);
        password_given = true;
    }
}

} // namespace talvor

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

// The one prompt open at a time: units needing either prompt queue here.
std::intptr_t ask_in_turn(CHubDevice& unit, const connection_env& env, const window_message& message)
{
    std::lock_guard<std::mutex> turn(unit.group->prompt_turn);
    return env.bridge->send(message);
}

// The security decision, taken under the login and the security mutex.
// Both are released before the password prompt, so units waiting for the
// same password share one prompt and log in in parallel. A remembered yes
// covers only the problems its prompts listed: a unit with another problem
// is asked again.
bool security_accepted(CHubDevice& unit, zt_hub& hub, const connection_env& env)
{
    unit_group& group = *unit.group;
    shared_prompt_state& p = group.prompt;
    std::lock_guard<std::mutex> login(group.login_mutex);
    std::lock_guard<std::mutex> security(group.security_mutex);
    const std::uint32_t found = hub.found_problems;
    bool yes;
    const int remembered = p.security_answer.load();
    const std::uint32_t covered = remembered >= 1 ? p.security_covered.load() | hub.allowed_problems : 0;
    if (remembered == 0) {
        yes = false;
    } else if (remembered >= 1 && (found & ~covered) == 0) {
        yes = true;
    } else {
        login_prompt subject{unit.label, unit.address_string(), false, unit.serial};
        const std::intptr_t reply = ask_in_turn(
            unit, env,
            {WM_ASK_SECURITY, reinterpret_cast<std::uintptr_t>(&subject), static_cast<std::intptr_t>(found)});
        if (reply == 2) {
            p.security_answer.store(0);
        } else if (reply == 3) {
            p.security_covered.store(covered | found);
            p.security_answer.store(1);
        }
        yes = reply == 1 || reply == 3;
    }
    if (yes)
        hub.accepted_problems = found | hub.allowed_problems;
    else
        unit.login.refused_problems.store(found);
    return yes;
}

// Under the prompt lock: the kept answer goes once nobody waits for it and
// no unit at work has yet to log in.
void wipe_when_unwanted(shared_prompt_state& p)
{
    if (p.waiters != 0 || p.asking || p.logins_expected != 0 || !p.kept)
        return;
    wipe(p.password);
    p.kept = false;
}

// The shared password prompt. A unit takes the kept answer unless it was
// refused with that very one (`used`, its generation); otherwise it waits
// for the prompt being asked, or asks itself. Returns the answer's result;
// the password lands in `out`.
int shared_password(CHubDevice& unit, const connection_env& env, bool refused, std::uint64_t& used,
                    byte_vector& out)
{
    shared_prompt_state& p = unit.group->prompt;
    std::unique_lock<std::mutex> g(unit.group->prompt_lock);
    for (;;) {
        if (p.kept && p.generation != used) {
            used = p.generation;
            out.assign(p.password.begin(), p.password.end());
            const int result = p.result;
            wipe_when_unwanted(p);
            return result;
        }
        if (!p.asking)
            break;
        ++p.waiters;
        const int round = p.rounds;
        p.answered_changed.wait(g, [&] { return p.rounds != round; });
        --p.waiters;
        if (p.last_result < 1) {
            // Everyone waiting for a cancelled prompt gives up with it.
            wipe_when_unwanted(p);
            return p.last_result;
        }
    }

    // This unit asks; the answer goes into its own copy first, as other
    // units may be reading the kept one meanwhile.
    p.asking = true;
    ++p.waiters;
    g.unlock();
    login_prompt subject{unit.label, unit.address_string(), refused, unit.serial};
    wipe(out);
    const std::intptr_t reply = ask_in_turn(
        unit, env,
        {WM_ASK_PASSWORD, reinterpret_cast<std::uintptr_t>(&subject), reinterpret_cast<std::intptr_t>(&out)});
    const int result = reply >= 1 ? 1 : 0;
    g.lock();
    if (result == 1 || !p.kept) {
        // A password, or a cancel of the first prompt: the rest of the
        // refresh takes it. A cancel after a refusal only gives up on the
        // units that were refused; the others keep the password they have.
        wipe(p.password);
        if (result == 1)
            p.password.assign(out.begin(), out.end());
        p.kept = true;
        p.result = result;
        used = ++p.generation;
    }
    p.last_result = result;
    ++p.rounds;
    p.asking = false;
    --p.waiters;
    p.answered_changed.notify_all();
    wipe_when_unwanted(p);
    return result;
}

// The unit's own prompt, when every unit answers for itself: nothing is
// kept for the others. Returns the answer's result.
int own_password(CHubDevice& unit, const connection_env& env, bool refused, byte_vector& out)
{
    login_prompt subject{unit.label, unit.address_string(), refused, unit.serial};
    wipe(out);
    const std::intptr_t reply = ask_in_turn(
        unit, env,
        {WM_ASK_PASSWORD, reinterpret_cast<std::uintptr_t>(&subject), reinterpret_cast<std::intptr_t>(&out)});
    return reply >= 1 ? 1 : 0;
}

// Ends the unit's share in the kept password on every return of ensure_login.
struct settle_on_return {
    CHubDevice& unit;
    ~settle_on_return() { login_settled(unit); }
};

} // namespace

void expect_login(CHubDevice& unit)
{
    std::lock_guard<std::mutex> g(unit.group->prompt_lock);
    if (unit.login.awaiting_login)
        return;
    unit.login.awaiting_login = true;
    ++unit.group->prompt.logins_expected;
}

void login_settled(CHubDevice& unit)
{
    std::lock_guard<std::mutex> g(unit.group->prompt_lock);
    if (!unit.login.awaiting_login)
        return;
    unit.login.awaiting_login = false;
    shared_prompt_state& p = unit.group->prompt;
    --p.logins_expected;
    wipe_when_unwanted(p);
}

void forget_cancelled_prompt(unit_group& group)
{
    std::lock_guard<std::mutex> g(group.prompt_lock);
    shared_prompt_state& p = group.prompt;
    if (p.kept && p.result < 1)
        p.kept = false;
}

int ensure_login(CHubDevice& unit, const connection_env& env)
{
    unit.login.failure.store(unit_failure::none);
    unit.login.refused_problems.store(0);
    settle_on_return settle{unit};
    password_copy password;

    // Step 1: a session and its challenge.
    int r;
    if (!unit.hub) {
        probe_result made = connect_unit(unit, env);
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
    std::uint64_t used = 0; // the generation of the shared answer this unit tried
    for (;;) {
        // Step 3: the login loop.
        bool refused = false;
        if (hub.has_key()) {
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
        const int result = env.password_per_unit ? own_password(unit, env, refused, password.bytes)
                                                 : shared_password(unit, env, refused, used, password.bytes);
        // Answering for itself, a front end with no other password for a
        // unit that refused one says so by giving none.
        if (result < 1)
            return failed(unit, env.password_per_unit && refused ? unit_failure::login_refused
                                                                 : unit_failure::password_cancelled);
        if (hub.derive_key(password.view()) != 0)
            return failed(unit, unit_failure::login_refused);
        wipe(password.bytes);
        password_given = true;
    }
}

} // namespace talvor

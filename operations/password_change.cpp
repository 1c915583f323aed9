// Changing the administrator password of the selected units in one batch.
// The new password is asked once, and each unit proves the change by a
// login with it before it counts as done.
#include <algorithm>
#include <memory>

#include "inventory/ensure_login.h"
#include "inventory/password_text.h"
#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/simple_job.h"

namespace talvor {

namespace {

const std::string title = "Change Password";

// The password bytes every job of the batch shares; wiped with the last job.
struct shared_secret {
    byte_vector bytes;
    ~shared_secret() { wipe(bytes); }
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }
};

constexpr const char* already_text = "the new password logs in already";

// Whether `password` logs in to the unit, tried on a session of its own so
// that the unit's session keeps the key it has: 1 it does, 0 refused, -1
// not known (no answer, or a security problem its session did not accept).
int logs_in_with(CHubDevice& unit, const connection_env& env, std::string_view password)
{
    std::unique_ptr<zt_hub> hub = connect_unit(unit, env).hub;
    int result = -1;
    if (hub) {
        if (unit.hub)
            hub->accepted_problems |= unit.hub->accepted_problems;
        if (hub->get_challenge(nullptr) == 0 && hub->derive_key(password) == 0) {
            const int status = hub->login(nullptr);
            result = status == 200 ? 1 : status == 403 ? 0 : -1;
            if (status == 200)
                hub->logout();
        }
    }
    end_probe(unit);
    return result;
}

void password_job(CHubDevice& unit, const connection_env& env, const shared_secret& password, bool check_first,
                  job_findings& f)
{
    // A unit that already takes the new password has nothing to change.
    if (check_first && logs_in_with(unit, env, password.view()) == 1) {
        f.unchanged = true;
        return finish_job(unit, env, true, already_text);
    }
    if (ensure_login(unit, env) != 200)
        return finish_job(unit, env, false, login_failure_reason(unit));
    zt_hub& hub = *unit.hub;
    const int status = hub.set_password(password.view());
    if (status != 200) {
        hub.logout();
        return finish_job(unit, env, false, operation_failure_reason("password change", status));
    }
    // The client keeps the new key: later commands log in without asking.
    if (hub.derive_key(password.view()) != 0 || hub.login(nullptr) != 200)
        return finish_job(unit, env, false, "password changed, login with the new password failed");
    hub.logout();
    finish_job(unit, env, true);
}

new_password_request prompt(std::string error)
{
    new_password_request r;
    r.title = title;
    r.main_instruction = "New Administrator Password";
    r.first_label = "New password";
    r.second_label = "Confirm new password";
    r.show_text = "Show password";
    r.error = std::move(error);
    return r;
}

} // namespace

std::string new_password_problem(const new_password_entry& entry)
{
    if (entry.first.empty())
        return "The password must not be empty.";
    if (entry.first != entry.second)
        return "The two entries differ: type the same password twice.";
    // Characters outside the units' code page would silently become '?'.
    byte_vector bytes = password_bytes(entry.first);
    const auto marks = [](auto& text) { return std::count(text.begin(), text.end(), '?'); };
    const bool lossy = marks(bytes) != marks(entry.first);
    wipe(bytes);
    if (lossy)
        return "The password holds a character the units cannot take: use letters, digits and signs of "
               "Western European languages.";
    return {};
}

int OnChangePassword(batch_context& ctx)
{
    if (!ctx.begin_command(title))
        return 0;
    unit_group& group = ctx.manager.group();
    if (group.selected_class != class_orvane_system && group.selected_class != class_talvor_system)
        return 0;

    auto password = std::make_shared<shared_secret>();
    for (std::string error;;) {
        std::optional<new_password_entry> entry = ctx.ui.ask_new_password(prompt(error));
        if (!entry)
            return 0;
        error = new_password_problem(*entry);
        if (error.empty()) {
            password->bytes = password_bytes(entry->first);
            break;
        }
    }
    const std::string scope = "Changes the administrator password of " + units_text(group.count_selected()) + ".";
    if (!ctx.ConfirmParanoid("Change the administrator password on selected devices", title, scope, nullptr))
        return 0;
    ctx.clear_cancels();
    const connection_env* env = &ctx.env();
    ctx.planner = [env, password](CHubDevice& unit, zt_hub&, job_findings& f) {
        f.unchanged = logs_in_with(unit, *env, password->view()) == 1;
        f.would_change = !f.unchanged;
        f.plan = f.unchanged ? already_text : "would change the administrator password";
        return std::string();
    };
    const bool check_first = ctx.password_check_first;
    group.for_each_selected([&](CHubDevice& unit) {
        CHubDevice* u = &unit;
        ctx.dispatch_finding(
            job_kind_password, unit,
            [u, env, password, check_first](job_findings& f) { password_job(*u, *env, *password, check_first, f); },
            dispatch_form::unguarded);
    });
    return ctx.ShowOperationProgress("Changing the administrator password on selected device(s)", title);
}

} // namespace talvor

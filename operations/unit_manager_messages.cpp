#include "inventory/password_text.h"
#include "operations/unit_manager.h"

namespace talvor {

std::intptr_t unit_manager::handle_message(const window_message& m, message_reply& reply)
{
    switch (m.id) {
    case WM_UNIT_FOUND:
        return on_unit_found(m.wparam, *reinterpret_cast<const unit_address*>(m.lparam));
    case WM_UNIT_JOB_DONE:
        on_unit_job_done(*reinterpret_cast<CHubDevice*>(m.lparam), reply);
        return 0;
    case WM_DISCOVERY_DONE:
        on_discovery_done(reply);
        return 0;
    case WM_ASK_PASSWORD:
        return ask_password(*reinterpret_cast<const login_prompt*>(m.wparam), *reinterpret_cast<byte_vector*>(m.lparam));
    case WM_ASK_SECURITY:
        return ask_security(*reinterpret_cast<const login_prompt*>(m.wparam), static_cast<std::uint32_t>(m.lparam));
    case WM_DROP_ADDRESS_LISTS:
        for (const auto& path : *reinterpret_cast<const std::vector<std::filesystem::path>*>(m.wparam))
            load_address_list(path);
        return 0;
    default:
        return other_message ? other_message(m, reply) : 0;
    }
}

std::intptr_t unit_manager::on_unit_found(std::uintptr_t n, const unit_address& where, bool listed)
{
    if (n == 0)
        reset_security_answer();
    if (shutting_down_)
        return 1;
    CHubDevice* unit = group_->add_unit(where);
    if (unit)
        queue_refresh(*unit);
    else if (listed)
        note_not_added(address_text(where.address), unit_failure::duplicate);
    return 0;
}

void unit_manager::on_unit_job_done(CHubDevice& unit, message_reply& reply)
{
    if (unit.job_done.load() == 0)
        return;
    // The rest waits until the reporting job has returned. Waiting for it
    // here held the window up once per unit (the worker has to be given the
    // processor first): the worker hands the rest back when it is done.
    CHubDevice* u = &unit;
    const bool handed_back = unit.worker->after_current([this, u, alive = std::weak_ptr<bool>(alive_)] {
        bridge_.post([this, u, alive] {
            if (alive.lock())
                job_reported(*u);
        });
    });
    reply.reply(0);
    if (!handed_back)
        job_reported(unit);
}

void unit_manager::job_reported(CHubDevice& unit)
{
    if (shutting_down_)
        return; // shut_down has emptied busy_units; the units stay as they are
    busy_.erase(&unit);
    if (unit.job_kind.load() != 1) {
        if (other_job_done)
            other_job_done(unit);
        if (listener_)
            listener_->job_finished(unit);
        return;
    }
    if (unit.job_result.load() != job_succeeded) {
        const unit_failure why = unit.login.failure.load();
        remove_after_refresh(unit, why == unit_failure::none ? unit_failure::unreachable : why);
        return;
    }
    // Of two addresses that lead to one unit, the one listed first stays,
    // whichever answered first: the user's order decides, not the network.
    const std::vector<CHubDevice*> same = listed_elsewhere(unit);
    if (!same.empty() && listed_before(*same.front(), unit)) {
        remove_after_refresh(unit, unit_failure::duplicate, same.front());
        return;
    }
    for (CHubDevice* later : same)
        remove_after_refresh(*later, unit_failure::duplicate, &unit);
    if (not_added_.forget(unit.address_string()) && listener_)
        listener_->not_added_changed();
    if (listener_)
        listener_->unit_ready(unit);
}

// The duplicate check after a refresh, in the group's order. Units whose
// own job has not reported are left out: their worker may be writing the
// very MAC read here, and such a unit is checked against this one when its
// own job reports.
std::vector<CHubDevice*> unit_manager::listed_elsewhere(const CHubDevice& unit) const
{
    std::vector<CHubDevice*> out;
    const unit_address me = unit.identity();
    for (const auto& other : group_->units()) {
        // The address never changes after creation, so it is compared
        // first; the MAC only once the other unit is known to be idle.
        if (other.get() == &unit)
            continue;
        const bool same_address = other->address == me.address;
        if (!same_address && !me.mac_known())
            continue;
        if (busy_.contains(other.get()))
            continue;
        if (same_address || other->mac == me.mac)
            out.push_back(other.get());
    }
    return out;
}

bool unit_manager::listed_before(const CHubDevice& a, const CHubDevice& b) const
{
    for (const auto& u : group_->units()) {
        if (u.get() == &a)
            return true;
        if (u.get() == &b)
            return false;
    }
    return false;
}

void unit_manager::remove_after_refresh(CHubDevice& unit, unit_failure reason, const CHubDevice* kept)
{
    // "duplicate of TLV-21001 [127.92.0.1]": which unit it was found to be.
    const std::string detail = kept ? "duplicate of " + kept->label : std::string();
    const std::uint32_t problems =
        reason == unit_failure::security_refused ? unit.login.refused_problems.load() : 0;
    if (listener_) {
        removed_unit info;
        info.unit = &unit;
        info.address = unit.address_string();
        info.label = unit.label;
        info.serial = unit.serial;
        info.protocol = unit_protocol(unit);
        info.reason = reason;
        info.detail = detail;
        info.problems = problems;
        listener_->unit_removed(info);
    }
    std::string address = unit.address_string();
    group_->remove_unit(&unit);
    note_not_added(std::move(address), reason, problems, detail);
}

void unit_manager::note_not_added(std::string address, unit_failure reason, std::uint32_t problems, std::string detail)
{
    not_added_.note(std::move(address), reason, problems, std::move(detail));
    if (listener_)
        listener_->not_added_changed();
}

void unit_manager::clear_not_added()
{
    not_added_.clear();
    if (listener_)
        listener_->not_added_changed();
}

void unit_manager::on_discovery_done(message_reply& reply)
{
    reply.reply(0);
    window_worker_->wait_idle();
    if (listener_)
        listener_->discovery_finished();
}

int unit_manager::ask_password(const login_prompt& unit, byte_vector& out)
{
    password_request request = password_prompt_request(unit.label, unit.address, unit.refused);
    request.serial = unit.serial;
    std::optional<std::string> typed = ui_.ask_password(request);
    if (!typed)
        return 0;
    byte_vector bytes = password_bytes(*typed);
    wipe(*typed);
    wipe(out);
    out.assign(bytes.begin(), bytes.end());
    wipe(bytes);
    return 1;
}

int unit_manager::ask_security(const login_prompt& unit, std::uint32_t problems)
{
    return security_prompt_answer(ui_.task_dialog(security_prompt_request(unit.label, problems, unit.address)));
}

} // namespace talvor

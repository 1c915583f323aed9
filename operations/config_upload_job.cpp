#include "operations/config_upload_job.h"

#include <string>

#include "inventory/ensure_login.h"

namespace talvor {

std::string status_reason(const char* what, int status)
{
    std::string s = what;
    s += status == -998 ? " (cancelled)" : status < 0 ? " (connection failed, " + std::to_string(status) + ")"
                                                      : " (status " + std::to_string(status) + ")";
    return s;
}

bool timed_wait(zt_hub& hub, int ms, const progress_range& progress, double start, double end)
{
    int n = (ms + 500) / 1000;
    if (n < 1)
        n = 1;
    const int step = (ms + n / 2) / n;
    for (int i = 0; i < n; ++i) {
        progress.set_raw(start + (end - start) * i / n);
        if (!hub.wait_cancel(step))
            return false;
    }
    return true;
}

std::string compare_unit_config(zt_hub& hub, const byte_vector& file, job_findings& findings)
{
    byte_vector current;
    if (const int r = hub.get_config_file_raw(current, reply_limit); r != 200)
        return status_reason("configuration read failed", r);
    const auto differences =
        compare_config({reinterpret_cast<const char*>(current.data()), current.size()},
                       {reinterpret_cast<const char*>(file.data()), file.size()});
    // A text that is not a JSON object cannot be compared: it counts as
    // different, with no key named.
    findings.compared = differences.has_value();
    findings.differences = differences.value_or(std::vector<config_difference>{});
    return {};
}

void upload_config_job(batch_context& ctx, CHubDevice& unit, std::shared_ptr<const byte_vector> bytes,
                       unsigned category_mask, job_findings* compare)
{
    const connection_env& env = ctx.env();
    const progress_range range = unit.job_progress;
    const double s = range.low, e = range.high, third = (e - s) / 3;
    auto fail = [&](std::string reason) { finish_job(unit, env, false, std::move(reason)); };

    if (ensure_login(unit, env) != 200)
        return fail(std::string("login failed: ") + failure_text(unit.login.failure.load()));
    if (compare) {
        if (std::string why = compare_unit_config(*unit.hub, *bytes, *compare); !why.empty())
            return fail(std::move(why));
        if (compare->compared && compare->differences.empty()) {
            compare->unchanged = true;
            unit.hub->logout();
            return finish_job(unit, env, true, "no key differs from the file");
        }
    }
    int r = unit.hub->set_config(*bytes, category_mask, progress_range{s, s + third, range.value});
    if (r >= 0 && r != 200)
        return fail(status_reason("configuration refused", r));
    if (r < 0) {
        if (!timed_wait(*unit.hub, 3000, range, s + third, s + 2 * third))
            return fail("cancelled");
        // The failure may have closed the unit's socket (a WebSocket
        // unit then needs a new connection and login).
        if (ensure_login(unit, env) != 200)
            return fail(std::string("login failed: ") + failure_text(unit.login.failure.load()));
    }
    // Always sent a second time, also after a first success.
    r = unit.hub->set_config(*bytes, category_mask, progress_range{s + 2 * third, e, range.value});
    if (r != 200)
        return fail(status_reason("configuration refused", r));
    unit.hub->logout();
    finish_job(unit, env, true);
}

} // namespace talvor

#pragma once
// The job that sends a configuration text to one unit: configuration
// upload and the CT type table share it.
#include <memory>

#include "operations/batch.h"
#include "protocol/zt_hub.h"

namespace talvor {

// On the unit's worker: login, set_config, a pause when the first call
// failed on the way, set_config again, logout; then finish_job. With
// `compare`, the unit's configuration is read and compared with `bytes`
// first (the findings land there): a unit that does not differ is left
// unchanged.
void upload_config_job(batch_context& ctx, CHubDevice& unit, std::shared_ptr<const byte_vector> bytes,
                       unsigned category_mask, job_findings* compare = nullptr);

// Reads the unit's configuration and compares `file` with it into
// `findings` (compared, differences); the reason it failed, or empty.
std::string compare_unit_config(zt_hub& hub, const byte_vector& file, job_findings& findings);

// Waits `ms` in steps of about a second, moving the progress value from
// `start` towards `end`; false as soon as the unit is cancelled.
bool timed_wait(zt_hub& hub, int ms, const progress_range& progress, double start, double end);

// "refused (403)", "connection failed (-975)": a status for the reasons
// kept on the unit.
std::string status_reason(const char* what, int status);

} // namespace talvor

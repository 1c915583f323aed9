#pragma once
// The firmware update job of one unit: the unit's own image, or its
// selected TAPs and modules one after another.
#include <cstddef>
#include <memory>
#include <string>

#include "inventory/connection_worker.h"
#include "inventory/hub_device.h"
#include "transport/conn_sess.h"

namespace talvor {

struct firmware_job_args {
    std::shared_ptr<const byte_vector> image; // one copy for every unit of the batch
    int image_class = class_unknown;
    std::size_t limit = 0;    // bytes to send; 0 = the whole file
    bool unit_itself = false; // the hub's own firmware, not its TAPs'
    // TAPs that report this version already are left as they are; empty:
    // every selected TAP is updated.
    std::string target_version;
};

// The selected TAPs of the unit an image of `image_class` is sent to: not
// those that report `target_version` already.
bool tap_to_update(const CHubDevice& unit, const CTapDevice& tap, int image_class, const std::string& target_version);

// The unit's worker; ends with finish_job.
void run_firmware_job(CHubDevice& unit, const connection_env& env, const firmware_job_args& args);

// What upload_sys_firmware is told for a TAP: -1 sends it as the unit's
// own firmware. `ok` is false when the unit's bus sizes cannot place it.
int firmware_target(const CHubDevice& unit, const CTapDevice& tap, int image_class, bool& ok);
// The rail-module addressing value written before an update.
int rail_module_prepare_value(int target);

} // namespace talvor

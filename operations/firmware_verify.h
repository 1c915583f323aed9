#pragma once
// After a firmware batch: do the units run what they were sent? Each
// updated unit is awaited until it answers again, read again, and its
// firmware version compared with the one before the update.
#include <chrono>
#include <string>
#include <vector>

#include "operations/batch.h"

namespace talvor {

// The TAPs (by index) an image of `image_class` updates on the unit: its
// selected ones, less the rail modules an FPGA image skips.
std::vector<int> updated_taps(const CHubDevice& unit, int image_class);
// The versions an image of `image_class` changes: the unit's own firmware
// ("0.64.2"), or those of `taps` ("TAP-1 1.2.3, TAP-2 1.2.3"; FPGA images:
// the modules' FPGA time stamps).
std::string firmware_versions(const CHubDevice& unit, int image_class, const std::vector<int>& taps);
// The one version an image of `image_class` changes on the unit itself (tap
// -1: "0.64.2") or on its TAP of that index ("1.2.3"; FPGA images: the time
// stamp, "1700000000"); empty when the unit has no such TAP.
std::string installed_version(const CHubDevice& unit, int image_class, int tap = -1);
// Those of the unit itself or of `taps` that do not report `target`
// ("v0.64.9", "TAP-1 v1.2.3, TAP-2 v1.2.3"); empty when all of them do.
std::string versions_off_target(const CHubDevice& unit, int image_class, const std::vector<int>& taps,
                                const std::string& target);

// Follows the firmware batch just finished: for every unit it updated,
// waits at most `timeout` for the unit to answer again and compares the
// versions. Images carry no version, so a unit back from its restart with
// the version it had succeeds with "version unchanged at X, the unit
// restarted"; one that never went away fails with "..., no restart seen",
// one that did not answer again with "did not answer again", and a
// cancelled check leaves the update done as "uploaded, verification
// cancelled". With a target version (batch_context::target_version) a unit
// back with another version fails ("installed v0.64.9, expected v0.65.0").
// The outcomes get the versions after, and the records the versions read.
// Runs its own progress window; returns its result, or 2 when no unit was
// updated (also after a dry run).
int verify_firmware(batch_context& ctx, std::chrono::milliseconds timeout);

// The firmware confirmation's check box that asks for verify_firmware, and
// how long it waits for the units unless told otherwise.
inline constexpr const char* verify_box_text = "Verify the installed version after the update";
inline constexpr std::chrono::seconds verify_timeout_default{300};

} // namespace talvor

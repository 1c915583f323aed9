#pragma once
// Making sure a unit has a logged-in hub session. Every job body calls it
// first, on the unit's own worker.
#include "inventory/connection_worker.h"
#include "inventory/hub_device.h"

namespace talvor {

// 200 when logged in; -1 or the unit's status otherwise, with the reason in
// unit.login.failure.
int ensure_login(CHubDevice& unit, const connection_env& env);

} // namespace talvor

#pragma once
// Making sure a unit has a logged-in hub session. Every job body calls it
// first, on the unit's own worker.
#include "inventory/connection_worker.h"
#include "inventory/hub_device.h"

namespace talvor {

class unit_group;

// 200 when logged in; -1 or the unit's status otherwise, with the reason in
// unit.login.failure.
int ensure_login(CHubDevice& unit, const connection_env& env);

// A job of the unit is at work (it joined busy_units): the password typed
// for its refresh or batch is kept until every such unit has logged in.
void expect_login(CHubDevice& unit);
// The unit has logged in, or failed to, or its job has ended: when no unit
// is expected any more, the kept password is wiped. Any thread; repeats do
// nothing.
void login_settled(CHubDevice& unit);
// A new request of the user's (Add, a list, a discovery run): a cancelled
// password prompt no longer answers for the units still at work, which
// ask again. A kept password stays.
void forget_cancelled_prompt(unit_group& group);

} // namespace talvor

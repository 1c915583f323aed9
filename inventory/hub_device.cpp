#include "inventory/hub_device.h"

#include <mutex>

#include "inventory/unit_group.h"
#include "transport/thread_slots.h"

namespace talvor {

CHubDevice::CHubDevice(unit_group& owner, const unit_address& where)
    : label(address_text(where.address)), mac(where.mac), address(where.address), group(&owner),
      worker(std::make_unique<job_thread>(&thread_slots::units()))
{
}

CHubDevice::~CHubDevice()
{
    // A running job may be blocked on the network with this unit's session,
    // TAPs and categories in hand: cut its waits short and join it first.
    {
        std::lock_guard lock(login.hub_lock);
        login.cancel_requested = true;
        if (hub)
            hub->set_cancel(true);
    }
    worker.reset();
}

void CHubDevice::set_job_state(int kind, int result, int done)
{
    job_kind = kind;
    job_result = result;
    job_done = done;
    job_reason.clear();
    job_cancelled = false;
    job_file.clear();
    // The progress dialog may hold the shared value: keep it, zero it.
    job_progress.low = 0.0;
    job_progress.high = 1.0;
    job_progress.value->set(0.0);
}

unit_address CHubDevice::identity() const
{
    return make_unit_address(address, mac);
}

} // namespace talvor

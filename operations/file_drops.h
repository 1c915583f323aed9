#pragma once
// Files dropped on the window's single-file buttons: firmware,
// configuration (or CT type table), customization and certificate.
#include <cstdint>

#include "inventory/window_bridge.h"
#include "operations/batch.h"

namespace talvor {

// The four single-file drop messages (wparam: the dropped paths). One file
// starts the button's command with it; a second file is refused with a
// message; an empty first name does nothing. Other messages are ignored.
// The command's result, 0 when none ran (the message itself answers 0).
std::intptr_t on_file_drop(batch_context& ctx, const window_message& message);

} // namespace talvor

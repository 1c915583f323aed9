#pragma once
// The user's settings store that the window also reads.
#include <memory>

#include "inventory/app_settings.h"

namespace talvor::cli {

std::unique_ptr<settings_store> open_user_settings();

} // namespace talvor::cli

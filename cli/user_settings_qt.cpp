#include "cli/user_settings.h"

#include "ui/settings_store_qt.h"

namespace talvor::cli {

std::unique_ptr<settings_store> open_user_settings() { return std::make_unique<qt_settings_store>(); }

} // namespace talvor::cli

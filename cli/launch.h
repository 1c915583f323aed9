#pragma once
// Opening a web address in the desktop's browser.
#include <string>

namespace talvor::cli {

// Runs `xdg-open URL` and waits for it; 0 when it exited with 0.
int launch_browser(const std::string& url);

} // namespace talvor::cli

#pragma once
// Opening a web address in the desktop's browser.
#include <string>

namespace talvor::cli {

// The desktop's way to open it: `xdg-open URL`, waited for, on Linux; the
// shell's default browser on Windows. 0 when it was opened.
int launch_browser(const std::string& url);

} // namespace talvor::cli

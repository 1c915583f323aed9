#pragma once
// The application object: brings the process up, runs the main window and
// ends when it closes.
#include <string>
#include <vector>

#include "inventory/app_settings.h"

namespace talvor {

struct app_options {
    std::vector<std::string> list_files; // --list FILE: added at start-up as "Add Multiple ..." would
    bool help = false;
};

// Nothing on a usage error (`error` says why).
bool parse_app_options(const std::vector<std::string>& args, app_options& out, std::string& error);
std::string app_usage_text();

class CTheApp {
public:
    // The whole life of the application; the process's exit status.
    int InitInstance(int argc, char** argv);

    // The running settings, read by the connection workers and Discover.
    AppSettings settings;
};

} // namespace talvor

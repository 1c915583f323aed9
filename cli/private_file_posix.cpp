#include "cli/secrets.h"

#include <cstdio>
#include <sys/stat.h>

namespace talvor::cli {

std::string private_file_problem(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "not found";
    if ((st.st_mode & 077) == 0)
        return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string((st.st_mode & 044) ? "readable" : "writable") + " by others (mode " + mode +
           "): make it 0600";
}

} // namespace talvor::cli

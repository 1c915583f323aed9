#include "tests/support/own_network.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace talvor::test {
namespace {

const char* const shared = "; this run may collide with others on the machine";

bool write_file(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0)
        ::close(fd);
    return ok;
}

std::string failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// In a user namespace of its own the process stays the same user, so files
// keep their owners; the unit's ports 80 and 443 then need no capability.
std::string map_same_user(const std::string& uid, const std::string& gid)
{
    if (!write_file("/proc/self/setgroups", "deny") || !write_file("/proc/self/uid_map", uid + " " + uid + " 1")
        || !write_file("/proc/self/gid_map", gid + " " + gid + " 1"))
        return failed("cannot map the user into its own user namespace");
    if (!write_file("/proc/sys/net/ipv4/ip_unprivileged_port_start", "0"))
        return failed("cannot open ports below 1024 in its own network namespace");
    return "";
}

bool loopback_up()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    if (fd >= 0)
        ::close(fd);
    return up;
}

} // namespace

std::string enter_own_network()
{
    // /proc/self/task holds a folder per thread, besides "." and "..".
    struct stat tasks {};
    if (::stat("/proc/self/task", &tasks) == 0 && tasks.st_nlink > 3)
        return std::string("no network namespace of its own: threads were already running") + shared;
    std::string why;
    if (::unshare(CLONE_NEWNET) != 0) {
        const int refused = errno;
        const auto uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return std::string("no network namespace of its own (") + std::strerror(refused)
                + "), nor a user namespace to make one in (" + std::strerror(errno) + ")" + shared;
        why = map_same_user(uid, gid);
    }
    if (!loopback_up() && why.empty())
        why = failed("cannot bring up the loopback of its own network namespace");
    return why;
}

} // namespace talvor::test

#pragma once
// Network namespaces a test creates for itself, joined by a veth pair, so
// that broadcasts never leave them. Removed again when the object goes,
// also after a failed assertion.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace talvor::test {

inline bool shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class netns_pair {
public:
    // Namespaces "<tag>-<pid>-a" and "-b"; when `linked`, a veth pair with
    // 10.213.<subnet>.1/24 in a and .2/24 in b.
    netns_pair(const std::string& tag, int subnet, bool linked = true)
        : a_(tag + "-" + std::to_string(::getpid()) + "-a"), b_(tag + "-" + std::to_string(::getpid()) + "-b"),
          net_("10.213." + std::to_string(subnet) + ".")
    {
        if (!shell("ip netns add " + a_))
            return;
        if (!shell("ip netns add " + b_))
            return;
        ok_ = shell("ip -n " + a_ + " link set lo up") && shell("ip -n " + b_ + " link set lo up");
        if (ok_ && linked)
            ok_ = shell("ip link add va netns " + a_ + " type veth peer name vb netns " + b_)
                && shell("ip -n " + a_ + " addr add " + net_ + "1/24 dev va")
                && shell("ip -n " + b_ + " addr add " + net_ + "2/24 dev vb")
                && shell("ip -n " + a_ + " link set va up") && shell("ip -n " + b_ + " link set vb up");
        // A link counts as running (what discovery looks for) only once the
        // kernel's link watcher has seen it up, which lags while other
        // programs make and drop namespaces.
        for (int i = 0; ok_ && linked && i < 500 && !(running(a_, "va") && running(b_, "vb")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~netns_pair()
    {
        shell("ip netns del " + a_);
        shell("ip netns del " + b_);
    }
    netns_pair(const netns_pair&) = delete;
    netns_pair& operator=(const netns_pair&) = delete;

    bool ok() const { return ok_; }
    const std::string& a() const { return a_; }
    const std::string& b() const { return b_; }
    std::string address_a() const { return net_ + "1"; }
    std::string address_b() const { return net_ + "2"; }

private:
    static bool running(const std::string& ns, const std::string& link)
    {
        return shell("ip -n " + ns + " -o link show " + link + " | grep -q 'state UP'");
    }

    std::string a_, b_, net_;
    bool ok_ = false;
};

// Moves the calling thread into a fresh network namespace with its loopback
// up (127.0.0.0/8 and ::1, nobody else's); threads it starts afterwards live
// there too. False when that is not permitted here.
inline bool isolate_thread()
{
    if (::unshare(CLONE_NEWNET) != 0)
        return false;
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

// Runs `fn` on a new thread that first enters namespace `name`; every socket
// it (and any thread it starts) opens lives there. Joins before returning.
// False when the namespace could not be entered.
inline bool run_in_netns(const std::string& name, const std::function<void()>& fn)
{
    bool entered = false;
    std::thread t([&] {
        const int fd = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        entered = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        if (entered)
            fn();
    });
    t.join();
    return entered;
}

} // namespace talvor::test

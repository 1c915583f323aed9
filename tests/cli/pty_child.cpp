#include "pty_child.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace talvorctl_test {

pty_child::pty_child(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                     const std::vector<std::string>& env, const std::string& out_file)
{
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
        return;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) // first, so they win over inherited ones
        envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setsid();
        ::ioctl(slave_, TIOCSCTTY, 0);
        const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(slave_, 0);
        ::dup2(slave_, 2);
        ::dup2(out, 1);
        ::close(master_);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
}

pty_child::~pty_child()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

void pty_child::read_some(int timeout_ms)
{
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0)
        return;
    char buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0)
        seen_.append(buf, static_cast<std::size_t>(n));
}

std::size_t pty_child::wait_for(const std::string& text, std::size_t from, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::size_t at = seen_.find(text, from);
        if (at != std::string::npos)
            return at;
        if (std::chrono::steady_clock::now() >= end || master_ < 0)
            return std::string::npos;
        read_some(50);
    }
}

void pty_child::type(const std::string& keys)
{
    [[maybe_unused]] const ssize_t n = ::write(master_, keys.data(), keys.size());
}

int pty_child::wait_exit(std::chrono::milliseconds limit)
{
    if (pid_ <= 0)
        return -1;
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_)
            break;
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        read_some(50); // keeps the terminal drained while it runs
    }
    pid_ = -1;
    while (true) {
        const std::size_t before = seen_.size();
        read_some(0);
        if (seen_.size() == before)
            break;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool pty_child::echo_on() const
{
    termios t{};
    return ::tcgetattr(slave_, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

} // namespace talvorctl_test

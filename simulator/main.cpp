// talvor-hubsim FLEET.json [WORK_DIR]: serves the fleet until SIGINT or
// SIGTERM (Ctrl-C or Ctrl-Break on Windows).
#include "simulator/hubsim.h"
#include "transport/open_files.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <condition_variable>
#include <mutex>
#else
#include <csignal>
#include <pthread.h>
#endif

namespace {

// Holds the stop requests back from the start (before any thread starts)
// until wait() takes them as ordinary code.
class stop_requests {
public:
#ifdef _WIN32
    stop_requests()
    {
        _setmode(_fileno(stdout), _O_BINARY); // LF line ends, as the scripts read them
        ::SetConsoleCtrlHandler(on_event, TRUE);
    }
    void wait()
    {
        std::unique_lock g(lock());
        woken().wait(g, [] { return stopped(); });
    }

private:
    static std::mutex& lock() { static std::mutex m; return m; }
    static std::condition_variable& woken() { static std::condition_variable c; return c; }
    static bool& stopped() { static bool s = false; return s; }
    static BOOL WINAPI on_event(DWORD)
    {
        {
            std::lock_guard g(lock());
            stopped() = true;
        }
        woken().notify_all();
        return TRUE;
    }
#else
    stop_requests()
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    }
    void wait()
    {
        int sig = 0;
        sigwait(&set_, &sig);
    }

private:
    sigset_t set_;
#endif
};

// A new folder of our own under the system's temporary one.
std::string new_work_dir()
{
    namespace fs = std::filesystem;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::error_code ec;
        const fs::path dir = fs::temp_directory_path(ec) / ("talvor-hubsim-" + std::to_string(random()));
        if (!ec && fs::create_directory(dir, ec) && !ec)
            return dir.string();
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: talvor-hubsim FLEET.json [WORK_DIR]\n");
        return 2;
    }
    talvor::raise_open_file_limit();
    stop_requests stop;

    std::string work_dir;
    if (argc == 3) {
        work_dir = argv[2];
    } else {
        work_dir = new_work_dir();
        if (work_dir.empty()) {
            std::fprintf(stderr, "talvor-hubsim: cannot create a work folder\n");
            return 1;
        }
    }
    try {
        auto fleet = talvor::sim::fleet_server::from_file(argv[1], work_dir);
        for (auto& line : fleet->describe())
            std::printf("serving %s\n", line.c_str());
        std::printf("CA certificate %s\n", fleet->ca_cert_path().string().c_str());
        std::printf("request log %s\n", fleet->log_path().string().c_str());
        std::printf("ready\n");
        std::fflush(stdout);
        stop.wait();
        fleet.reset();
        std::printf("stopped\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "talvor-hubsim: %s\n", e.what());
        return 1;
    }
}

// talvor-hubsim FLEET.json [WORK_DIR]: serves the fleet until SIGINT or SIGTERM.
#include "simulator/hubsim.h"
#include "transport/open_files.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <pthread.h>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: talvor-hubsim FLEET.json [WORK_DIR]\n");
        return 2;
    }
    talvor::raise_open_file_limit();
    // Block the stop signals before any thread starts so only sigwait sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::string work_dir;
    if (argc == 3) {
        work_dir = argv[2];
    } else {
        char pattern[] = "/tmp/talvor-hubsim-XXXXXX";
        if (!mkdtemp(pattern)) {
            std::perror("talvor-hubsim: mkdtemp");
            return 1;
        }
        work_dir = pattern;
    }
    try {
        auto fleet = talvor::sim::fleet_server::from_file(argv[1], work_dir);
        for (auto& line : fleet->describe())
            std::printf("serving %s\n", line.c_str());
        std::printf("CA certificate %s\n", fleet->ca_cert_path().c_str());
        std::printf("request log %s\n", fleet->log_path().c_str());
        std::printf("ready\n");
        std::fflush(stdout);
        int sig = 0;
        sigwait(&stop_signals, &sig);
        fleet.reset();
        std::printf("stopped\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "talvor-hubsim: %s\n", e.what());
        return 1;
    }
}

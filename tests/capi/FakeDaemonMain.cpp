// The scripted service as a process of its own, for the tests of the ostrel
// command: capi_fake_daemon SOCKET. Prints "ready" once it listens, and stops
// on SIGTERM or SIGINT.

#include <signal.h>

#include <cstdio>

#include "FakeDaemon.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOCKET\n", argv[0]);
        return 2;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    // Blocked before any thread starts, so that only sigwait below takes them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (!fake_daemon_start(argv[1])) {
        std::fprintf(stderr, "cannot start the scripted service\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    int nSignal = 0;
    sigwait(&set, &nSignal);
    fake_daemon_stop();
    return 0;
}

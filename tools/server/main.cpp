// vx-server: a small UDP game server for trying and testing the vx clients.
#include "options.h"
#include "server.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    vxserver::Options options;
    std::string error;
    if (!vxserver::parseOptions(args, options, error)) {
        std::fprintf(stderr, "vx-server: %s (%s)\n", error.c_str(), vxserver::usageLine());
        return 2;
    }
    if (options.help) {
        std::fputs(vxserver::helpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vx-server (vxtanks) %s\n", VX_VERSION);
        return 0;
    }
    // Tests and the play script read the lines as they come, through a pipe:
    // the server flushes them each time it has handled what was waiting.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);

    // A shell starts background jobs with SIGINT ignored. Linux still queues a
    // blocked signal for the signalfd, but back to default keeps that moot.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGINT, &dfl, nullptr);
    sigaction(SIGTERM, &dfl, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::fprintf(stderr, "vx-server: sigprocmask: %s\n", std::strerror(errno));
        return 1;
    }
    int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::fprintf(stderr, "vx-server: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    vxserver::Server server(options, stdout, stderr);
    if (server.bindAll() == 0) {
        std::fprintf(stderr, "vx-server: no port could be bound\n");
        return 1;
    }
    int signo = server.run(stopFd);
    server.printSummary(signo == SIGINT ? "SIGINT" : signo == SIGTERM ? "SIGTERM" : "stopped");
    close(stopFd);
    return 0;
}

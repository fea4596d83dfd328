// vesk-sim [--control PORT] [--wineprefix DIR] [--watch-stdin]
// Prints its control address ("127.0.0.1:PORT") on one line of stdout once it is ready.
#include "sim.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void onSignal(int)
{
    const char b = 1;
    ssize_t r = write(stopPipe[1], &b, 1);
    (void)r;
}

int usage()
{
    std::fprintf(stderr, "usage: vesk-sim [--control PORT] [--wineprefix DIR] [--watch-stdin]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    int port = 0;
    bool watchStdin = false;
    const char* env = std::getenv("WINEPREFIX");
    std::string prefix = env ? env : "";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--control" && i + 1 < argc) port = std::atoi(argv[++i]);
        else if (a == "--wineprefix" && i + 1 < argc) prefix = argv[++i];
        else if (a == "--watch-stdin") watchStdin = true;
        else return usage();
    }

    // End with the parent: a test runner that is killed must not leave a simulator and its
    // COM links behind.
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) return 0;

    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    vesksim::Simulator sim(prefix);
    std::string address = sim.listen(port);
    if (address.empty()) {
        std::fprintf(stderr, "vesk-sim: cannot listen on 127.0.0.1:%d: %s\n", port, std::strerror(errno));
        return 1;
    }
    std::printf("%s\n", address.c_str());
    std::fflush(stdout);
    sim.run(stopPipe[0], watchStdin ? 0 : -1);
    return 0; // the destructor removes the links
}

// kestrix-service: the command line around kxservice::Service. Exit status 2 for a usage error, 1 when
// the service cannot start, 0 after SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "service/Log.h"
#include "service/Service.h"

int main(int argc, char** argv) {
    using namespace kxservice;
    Options options;
    try {
        options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "kestrix-service: " << e.what() << "\n" << usageText();
        return 2;
    }
    // The signals are taken by sigwait below; every thread started from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Service service(options);
    try {
        service.start();
    } catch (const std::exception& e) {
        logLine(std::string("cannot start: ") + e.what());
        return 1;
    }
    std::printf("%s\n", service.startLine().c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stopSignals, &sig);
    logLine(std::string("stopping on ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
    // Whatever hangs, the process ends within its promised five seconds.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(4500));
        logLine("stopping took too long: exiting now");
        _exit(0);
    }).detach();
    try {
        service.stop();
    } catch (const std::exception& e) {
        logLine(std::string("error while stopping: ") + e.what());
    }
    return 0;
}

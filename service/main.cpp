// kestrix-service: the command line around kxservice::Service. Exit status 2 for a usage error, 1 when
// the service cannot start, 0 after SIGINT or SIGTERM. `--run-task TASK_DIR` runs one task as a cluster
// job's worker instead (service/TaskWorker.h).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "service/Log.h"
#include "service/Service.h"
#include "service/TaskWorker.h"

int main(int argc, char** argv) {
    using namespace kxservice;
    // The stop signals are taken by sigwait (the service's stop, the worker's cancellation); every thread
    // started from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (argc >= 2 && std::string(argv[1]) == "--run-task") {
        if (argc != 3) {
            std::cerr << "kestrix-service: --run-task needs the task directory, alone\n";
            return 2;
        }
        return runTaskWorker(argv[2], stopSignals);
    }
    Options options;
    try {
        options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "kestrix-service: " << e.what() << "\n" << usageText();
        return 2;
    }
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

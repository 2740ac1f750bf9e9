#pragma once
// The client without its window: one SfM or MVS task from the command line, reported on the standard
// streams. It is also how end-to-end checks drive the client.
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "remote/ServiceSettings.h"

namespace app {

enum ExitStatus : int {
    kExitOk = 0,       // the results were downloaded into the project directory
    kExitFailure = 1,  // any failure: a message box, a protocol error, a lost session
    kExitUsage = 2,    // the command line cannot run
    kExitTimeout = 3,  // --timeout expired
};

// Runs the client as the arguments after the program name say (the window, or one headless task) and
// returns the exit status. Needs the application object.
int runClient(const std::vector<std::string>& args);

// Runs one task: status lines and log lines go to standard output, a message box goes to standard
// error as "Title: text" and ends the run. Needs the application object; shows no window.
int runHeadless(const ClientOptions& options, const remote::ServiceSettings& settings);

}  // namespace app

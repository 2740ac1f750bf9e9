#pragma once
// The client's command line: the window by default, or one headless task.
//   kestrix-client [--service ADDRESS] [--service-ca FILE]
//   kestrix-client (--align SFM_JSON | --densify MODEL.ksm) --project-dir DIR
//                  [--service ADDRESS] [--service-ca FILE] [--timeout SECONDS]
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "vexkit/Exception.h"

namespace app {

// A command line that cannot run; the process ends with status 2.
class UsageError : public vexkit::Exception {
public:
    using vexkit::Exception::Exception;
};

struct ClientOptions {
    enum class Mode { kWindow, kAlign, kDensify };
    Mode mode = Mode::kWindow;
    std::filesystem::path input;       // the configuration or the sparse model, absolute
    std::filesystem::path projectDir;  // absolute
    std::optional<std::string> service;
    std::optional<std::filesystem::path> serviceCa;  // absolute
    std::optional<double> timeoutSeconds;
};

// True when the arguments ask for a headless task (decided before the application object exists, so
// that no display is needed).
bool wantsHeadless(const std::vector<std::string>& args);

// Parses the arguments after the program name; relative paths are resolved against the current
// directory. Throws UsageError for an unknown option, a missing value, both or neither of
// --align/--densify with the headless options, an input that is not a file, a project directory that
// is not a directory, or a timeout that is not a positive number.
ClientOptions parseCommandLine(const std::vector<std::string>& args);

// One line of usage.
const char* usageText();

}  // namespace app

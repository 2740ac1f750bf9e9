#include "app/CommandLine.h"

#include <cmath>
#include <system_error>

namespace app {
namespace {
std::filesystem::path absolute(const std::string& value) {
    std::error_code ec;
    const std::filesystem::path path =
        std::filesystem::absolute(std::filesystem::u8path(value), ec).lexically_normal();
    if (ec) {
        throw UsageError("cannot resolve " + value);
    }
    return path;
}
double positiveSeconds(const std::string& value) {
    size_t end = 0;
    double seconds = 0;
    try {
        seconds = std::stod(value, &end);
    } catch (const std::exception&) {
        end = 0;
    }
    if (end != value.size() || !std::isfinite(seconds) || seconds <= 0) {
        throw UsageError("--timeout needs a positive number of seconds: " + value);
    }
    return seconds;
}
}  // namespace

const char* usageText() {
    return "usage: kestrix-client [--service ADDRESS] [--service-ca FILE]\n"
           "       kestrix-client (--align SFM_JSON | --densify MODEL.ksm) --project-dir DIR\n"
           "                      [--service ADDRESS] [--service-ca FILE] [--timeout SECONDS]";
}

bool wantsHeadless(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--align" || arg == "--densify" || arg == "--project-dir" || arg == "--timeout") {
            return true;
        }
    }
    return false;
}

ClientOptions parseCommandLine(const std::vector<std::string>& args) {
    ClientOptions options;
    std::optional<std::string> align, densify, projectDir, timeout, caFile;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        std::optional<std::string>* target = nullptr;
        if (name == "--align") {
            target = &align;
        } else if (name == "--densify") {
            target = &densify;
        } else if (name == "--project-dir") {
            target = &projectDir;
        } else if (name == "--timeout") {
            target = &timeout;
        } else if (name == "--service") {
            target = &options.service;
        } else if (name == "--service-ca") {
            target = &caFile;
        } else {
            throw UsageError("unknown option " + name);
        }
        if (i + 1 >= args.size()) {
            throw UsageError(name + " needs a value");
        }
        if (target->has_value()) {
            throw UsageError(name + " given twice");
        }
        *target = args[++i];
    }
    if (caFile) {
        options.serviceCa = absolute(*caFile);
    }
    if (align && densify) {
        throw UsageError("--align and --densify exclude each other");
    }
    if (!align && !densify) {
        if (projectDir || timeout) {
            throw UsageError("--project-dir and --timeout need --align or --densify");
        }
        return options;
    }
    options.mode = align ? ClientOptions::Mode::kAlign : ClientOptions::Mode::kDensify;
    options.input = absolute(align ? *align : *densify);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(options.input, ec)) {
        throw UsageError("no such file: " + options.input.u8string());
    }
    if (!projectDir) {
        throw UsageError("--project-dir is required with --align and --densify");
    }
    options.projectDir = absolute(*projectDir);
    if (!std::filesystem::is_directory(options.projectDir, ec)) {
        throw UsageError("not a directory: " + options.projectDir.u8string());
    }
    if (timeout) {
        options.timeoutSeconds = positiveSeconds(*timeout);
    }
    return options;
}

}  // namespace app

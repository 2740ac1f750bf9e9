#include "protocol/ServiceDefaults.h"

#include <cstdlib>

namespace service_defaults {

std::string address() {
    return std::string(kHost) + ":" + std::to_string(kPort);
}

std::filesystem::path dataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    // A relative XDG_DATA_HOME is invalid by its own convention and is ignored.
    if (xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && *home ? home : ".") / ".local" / "share";
    }
    return base / "kestrix-service";
}

std::filesystem::path caFile() {
    return dataDir() / kCaFileName;
}

}  // namespace service_defaults

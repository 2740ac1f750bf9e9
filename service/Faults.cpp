#include "service/Faults.h"

#include "service/Log.h"

namespace kxservice {

namespace {
constexpr const char* kNames[kNbFaults] = {
    "protocol-version-2",  "login-refused",        "launch-refused",  "task-fails",          "put-500",
    "drop-mid-upload",     "drop-mid-download",    "garbage-message", "wrong-response-type", "short-download",
    "bad-digest-download", "incomplete-alignment",
};
}  // namespace

std::optional<Fault> faultByName(const std::string& name) {
    for (size_t i = 0; i < kNbFaults; ++i) {
        if (name == kNames[i]) {
            return static_cast<Fault>(i);
        }
    }
    return std::nullopt;
}

const char* faultName(Fault fault) {
    return kNames[static_cast<size_t>(fault)];
}

bool Faults::fire(Fault fault) {
    auto& armed = mArmed[static_cast<size_t>(fault)];
    int n = armed.load();
    while (n > 0) {
        if (armed.compare_exchange_weak(n, n - 1)) {
            logLine(std::string("fault fires: ") + faultName(fault));
            return true;
        }
    }
    return false;
}

}  // namespace kxservice

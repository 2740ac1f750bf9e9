#pragma once
// Fault switches for tests of the client: each armed occurrence fires on the first matching event only,
// so the next attempt succeeds.
#include <array>
#include <atomic>
#include <optional>
#include <string>

namespace kxservice {

enum class Fault {
    kProtocolVersion2,     // the handshake answers protocolVersion 2
    kLoginRefused,         // the login is refused
    kLaunchRefused,        // an SfM or MVS launch is refused
    kTaskFails,            // a task fails (stage 6) after stage 2
    kPut500,               // a PUT is answered 500, nothing stored
    kDropMidUpload,        // the connection closes half-way through a PUT body
    kDropMidDownload,      // the connection closes half-way through a GET body
    kGarbageMessage,       // a response is replaced by text that is not JSON
    kWrongResponseType,    // a response of another type than the request's
    kShortDownload,        // a GET sends fewer bytes than the item's size
    kBadDigestDownload,    // a GET sends the item's size but altered bytes
    kIncompleteAlignment,  // the test engine leaves the last photograph out of an alignment
};
constexpr size_t kNbFaults = 12;

std::optional<Fault> faultByName(const std::string& name);
const char* faultName(Fault fault);

class Faults {
public:
    // One more occurrence of the fault.
    void arm(Fault fault) { mArmed[static_cast<size_t>(fault)].fetch_add(1); }
    // True when an armed occurrence is used up by this event.
    bool fire(Fault fault);

private:
    std::array<std::atomic<int>, kNbFaults> mArmed{};
};

}  // namespace kxservice

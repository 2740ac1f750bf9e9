#pragma once
// The vocabulary shared by the requests and responses of the client protocol.
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <cereal/cereal.hpp>

#include "config/WireInt.h"
#include "vexkit/FileKey.h"
#include "vexkit/FileType.h"

namespace user_proto {

// Also the position of the type in UserRequest and UserResponse and the "index" of the envelope.
enum ReqType : int32_t {
    kHandshake = 0,
    kLogin = 1,
    kGetUploadUrl = 2,
    kGetSfmResults = 3,
    kLaunchSfmTask = 4,
    kQueryProgress = 5,
    kGetMvsResults = 6,
    kLaunchMvsTask = 7,
};
constexpr int kNbReqTypes = 8;

// Stages of a remote task; the wire may carry values outside this list.
enum class TaskStage : uint8_t {
    kPending = 0,
    kFetchingFiles = 1,
    kRunning = 2,
    kFinishedComputing = 3,
    kUploadingResults = 4,
    kFinished = 5,
    kFailed = 6,
};

using TaskHandle = uint64_t;

// A failure of the request as such; code 0 means success.
struct ErrorInfo {
    uint32_t code = 0;
    std::string message;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(code), CEREAL_NVP(message));
    }
    auto tie() const { return std::tie(code, message); }
};

// A failure of a task; code 0 means success. missingFiles lists inputs the service does not have.
struct TaskError {
    uint32_t code = 0;
    std::string message;
    std::vector<FileKey> missingFiles;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(code), CEREAL_NVP(message), CEREAL_NVP(missingFiles));
    }
    auto tie() const { return std::tie(code, message, missingFiles); }
};

// Every record of the protocol compares field by field through its tie().
template <class T, class = decltype(std::declval<const T&>().tie())>
bool operator==(const T& a, const T& b) {
    return a.tie() == b.tie();
}
template <class T, class = decltype(std::declval<const T&>().tie())>
bool operator!=(const T& a, const T& b) {
    return !(a == b);
}

}  // namespace user_proto

#pragma once
// One message of each type with every field set to a value other than its default.
#include <limits>
#include <string>
#include <vector>

#include "remote/UserProto.h"
#include "tests/config/CfgSamples.h"

namespace kxtest {

inline std::vector<user_proto::UserRequest> sampleRequests() {
    using namespace user_proto;
    const FileKey a = keyOf("900150983cd24fb0d6963f7d28e17f72");
    const FileKey b = keyOf("d41d8cd98f00b204e9800998ecf8427e");
    return {
        Request<kHandshake>{1, 255},
        Request<kLogin>{2, "guest", "s3cr\"et"},
        Request<kGetUploadUrl>{3, a, 5000000000ull, FileType::kHeif},
        Request<kGetSfmResults>{4, std::numeric_limits<TaskHandle>::max()},
        Request<kLaunchSfmTask>{5, b, 65535},
        Request<kQueryProgress>{6, 12},
        Request<kGetMvsResults>{7, 13},
        Request<kLaunchMvsTask>{8, a, {a, b, a}},
    };
}

inline std::vector<user_proto::UserResponse> sampleResponses() {
    using namespace user_proto;
    const FileKey a = keyOf("900150983cd24fb0d6963f7d28e17f72");
    const FileKey b = keyOf("d41d8cd98f00b204e9800998ecf8427e");
    const ErrorInfo failed{7, "quota exceeded"};
    const TaskError missing{2, "missing inputs", {a, b}};
    return {
        Response<kHandshake>{1, failed, 2},
        Response<kLogin>{2, failed},
        Response<kGetUploadUrl>{3, {}, true, "http://127.0.0.1:8080/put/900150983cd24fb0d6963f7d28e17f72"},
        Response<kGetSfmResults>{4,
                                 {},
                                 missing,
                                 {{0, FileType::kKsm, a, 123456789012ull, "http://127.0.0.1/0"},
                                  {1, FileType::kPly, b, 1, "http://127.0.0.1/1"}}},
        Response<kLaunchSfmTask>{5, {}, missing, std::numeric_limits<TaskHandle>::max()},
        Response<kQueryProgress>{6, {}, TaskStage::kUploadingResults, 0.75f},
        Response<kGetMvsResults>{7, failed, missing, {{FileType::kPly, a, 42, "http://127.0.0.1/dense"}}},
        Response<kLaunchMvsTask>{8, {}, missing, 99},
    };
}

}  // namespace kxtest

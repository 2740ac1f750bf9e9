#pragma once
// The messages of the client protocol and their JSON text. Both directions use one envelope: an object
// with "index" (the ReqType) and "data" (the fields of the request or response, in order), written
// with four-space indentation. The text of a WebSocket message is UTF-8.
#include <string>
#include <string_view>
#include <variant>

#include "protocol/ProtoRequests.h"
#include "protocol/ProtoResponses.h"

namespace user_proto {

using UserRequest = std::variant<Request<kHandshake>, Request<kLogin>, Request<kGetUploadUrl>,
                                 Request<kGetSfmResults>, Request<kLaunchSfmTask>, Request<kQueryProgress>,
                                 Request<kGetMvsResults>, Request<kLaunchMvsTask>>;
using UserResponse =
    std::variant<Response<kHandshake>, Response<kLogin>, Response<kGetUploadUrl>, Response<kGetSfmResults>,
                 Response<kLaunchSfmTask>, Response<kQueryProgress>, Response<kGetMvsResults>,
                 Response<kLaunchMvsTask>>;

static_assert(std::variant_size_v<UserRequest> == kNbReqTypes &&
                  std::variant_size_v<UserResponse> == kNbReqTypes,
              "the variants hold one alternative per ReqType, in ReqType order");

inline ReqType typeOf(const UserRequest& req) {
    return static_cast<ReqType>(req.index());
}
inline ReqType typeOf(const UserResponse& res) {
    return static_cast<ReqType>(res.index());
}

// One JSON text per message.
std::string writeRequest(const UserRequest& req);
std::string writeResponse(const UserResponse& res);

// Reading throws the archive errors: kxjson::ParseError for text that is not JSON,
// cereal::RapidJSONException for a member of the wrong JSON type, cereal::Exception for a missing
// member, "Invalid 'index' selector when deserializing std::variant" for an index above 7 and
// "Error traversing variant during load" for a negative one.
UserResponse readResponse(std::string_view text);
UserRequest readRequest(std::string_view text);

}  // namespace user_proto

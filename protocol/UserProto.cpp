#include "protocol/UserProto.h"

#include "config/JsonIo.h"

#include <sstream>

namespace user_proto {
namespace {

// The envelope is the variant's own form ("index", then "data") written straight into the root object.
template <class Variant>
std::string writeEnvelope(const Variant& message) {
    std::ostringstream os;
    {
        cereal::JSONOutputArchive ar(os, kxjson::outputOptions());
        cereal::save(ar, message);
    }
    return os.str();
}

template <class Variant>
Variant readEnvelope(std::string_view text) {
    const auto ar = kxjson::openInput(text);
    Variant message;
    cereal::load(*ar, message);
    return message;
}

}  // namespace

std::string writeRequest(const UserRequest& req) {
    return writeEnvelope(req);
}

std::string writeResponse(const UserResponse& res) {
    return writeEnvelope(res);
}

UserResponse readResponse(std::string_view text) {
    return readEnvelope<UserResponse>(text);
}

UserRequest readRequest(std::string_view text) {
    return readEnvelope<UserRequest>(text);
}

}  // namespace user_proto

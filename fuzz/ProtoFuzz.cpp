// Protocol messages of both directions and the configuration read from arbitrary text: only the archive's
// errors may escape, and a text that reads is written again and reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "config/JsonIo.h"
#include "protocol/UserProto.h"
#include "tests/config/CfgSamples.h"

namespace {
template <typename Message, typename Read, typename Write>
void roundTrip(std::string_view text, Read read, Write write) {
    Message message;
    try {
        message = read(text);
    } catch (const cereal::Exception&) {
        return;
    }
    const std::string written = write(message);
    if (write(read(written)) != written) {
        std::abort();
    }
}

SfmCfg readCfg(std::string_view text) {
    return kxtest::parse(std::string(text));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    roundTrip<user_proto::UserRequest>(text, user_proto::readRequest, user_proto::writeRequest);
    roundTrip<user_proto::UserResponse>(text, user_proto::readResponse, user_proto::writeResponse);
    roundTrip<SfmCfg>(text, readCfg, kxtest::textOf);
    return 0;
}

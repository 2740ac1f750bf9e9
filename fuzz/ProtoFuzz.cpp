// Protocol message readers of both directions on arbitrary text: only the archive's errors may escape,
// and a message that reads is written again and reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/JsonIo.h"
#include "remote/UserProto.h"

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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    roundTrip<user_proto::UserRequest>(text, user_proto::readRequest, user_proto::writeRequest);
    roundTrip<user_proto::UserResponse>(text, user_proto::readResponse, user_proto::writeResponse);
    return 0;
}

// Protocol messages as JSON text: requests written character for character and read back, responses
// read with their fields found by name, and numbers that do not fit their fields refused.
#include <string>

#include <cereal/cereal.hpp>
#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "protocol/UserProto.h"
#include "tests/protocol/ProtoSamples.h"

namespace {

using namespace kxtest;
using namespace user_proto;

// The keys and number forms of every request, character for character (the layout's blanks aside).
TEST(UserProtoWrite, RequestsMatchTheirTextsAndReadBackEqual) {
    for (const auto& row : requestTexts()) {
        EXPECT_EQ(withoutBlanks(writeRequest(row.req)), row.text);
        EXPECT_TRUE(readRequest(row.text) == row.req) << row.text;
    }
}

TEST(UserProtoRead, ResponsesOfEveryTypeRead) {
    for (const auto& row : responseTexts()) {
        EXPECT_TRUE(readResponse(row.text) == row.res) << row.text;
    }
}

// The envelope's own failures, and the number ranges that pin a field's type: a value that does not fit
// its field is refused, never wrapped.
TEST(UserProtoRead, MalformedEnvelopesAndOutOfRangeNumbersAreRefused) {
    const struct {
        std::string text;
        bool request = false;
    } rows[] = {
        {R"({"index": "5", "data": {}})"},
        {ok(5, R"("status": 256, "ratio": 0.5)")},
        {envelope(4, R"("hRequest": 0, "config": "abc", "hProfile": 65536)"), true},
        {ok(3, R"("sfmError": )" + kNoTaskError +
                   R"(, "items": [{"hModel": 0, "type": 1.5, "key": "k", "size": 0, "url": "u0"}])")},
    };
    for (const auto& row : rows) {
        EXPECT_THROW(row.request ? (void)readRequest(row.text) : (void)readResponse(row.text),
                     cereal::Exception)
            << row.text;
    }
    EXPECT_TRUE(readRequest(envelope(4, R"("hRequest": 0, "config": "abc", "hProfile": 65535)")) ==
                UserRequest(Request<kLaunchSfmTask>{0, keyOf("abc"), 65535}));
}

}  // namespace

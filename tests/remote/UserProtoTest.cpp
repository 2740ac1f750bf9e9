// Protocol messages as JSON text: requests written character for character and read back, responses
// read with their fields found by name and number types checked, and the protocol's own failures.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "remote/UserProto.h"
#include "tests/config/Malformed.h"
#include "tests/remote/ProtoSamples.h"

namespace {

using namespace user_proto;
using kxtest::envelope;
using kxtest::kNoTaskError;
using kxtest::kOk;
using kxtest::ok;

std::string withoutBlanks(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }),
               text.end());
    return text;
}

TEST(UserProtoWrite, RequestsMatchTheirTextsAndReadBackEqual) {
    EXPECT_EQ(writeRequest(Request<kHandshake>{0, 0}), R"({
    "index": 0,
    "data": {
        "hRequest": 0,
        "protocolType": 0
    }
})");
    EXPECT_EQ(writeRequest(Request<kLogin>{1, "guest", ""}), R"({
    "index": 1,
    "data": {
        "hRequest": 1,
        "username": "guest",
        "secret": ""
    }
})");
    for (const auto& row : kxtest::requestTexts()) {
        EXPECT_EQ(withoutBlanks(writeRequest(row.req)), row.text);
        EXPECT_TRUE(readRequest(row.text) == row.req) << row.text;
    }
}

TEST(UserProtoRead, ResponsesOfEveryTypeReadAndWriteBack) {
    for (const auto& row : kxtest::responseTexts()) {
        EXPECT_TRUE(readResponse(row.text) == row.res) << row.text;
        EXPECT_TRUE(readResponse(writeResponse(row.res)) == row.res) << row.text;
    }
}

// One row per way of failing that is the protocol's own: the envelope, and the number ranges that pin a
// field's type (the archive's other texts are the configuration tests' concern).
TEST(UserProtoRead, EveryFailureReportsItsExactText) {
    const std::string assertion = "rapidjson internal assertion failure: ";
    const std::string progress = R"("status": 2, "ratio": 0.5)";
    const std::string outOfRange = "JSON integer 256 out of range for its field";
    const struct {
        std::string text;
        std::string error;
        bool request = false;
    } rows[] = {
        {ok(8, progress), "Invalid 'index' selector when deserializing std::variant"},
        {ok(-1, progress), "Error traversing variant during load"},
        {R"({"index": "5", "data": {}})", assertion + "data_.f.flags & kIntFlag"},
        {R"({"index": 5})", "JSON Parsing failed - provided NVP (data) not found"},
        {ok(5, R"("status": -1, "ratio": 0.5)"), assertion + "data_.f.flags & kUintFlag"},
        // Fields narrower than 32 bits refuse what does not fit instead of wrapping.
        {ok(5, R"("status": 256, "ratio": 0.5)"), outOfRange},
        {envelope(0, R"("hRequest": 0, "protocolType": 256)"), outOfRange, true},
        {envelope(4, R"("hRequest": 0, "config": "abc", "hProfile": 65536)"),
         "JSON integer 65536 out of range for its field", true},
        {envelope(5, R"("hRequest": 4294967296, )" + kOk + ", " + progress),
         assertion + "data_.f.flags & kUintFlag"},
        {ok(3, R"("sfmError": )" + kNoTaskError +
                   R"(, "items": [{"hModel": 0, "type": 1.5, "key": "k", "size": 0, "url": "u0"}])"),
         assertion + "data_.f.flags & kIntFlag"},
        {ok(4, R"("sfmErr": )" + kNoTaskError + R"(, "hTask": -1)"),
         assertion + "data_.f.flags & kUint64Flag"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(kxtest::archiveErrorOf(
                      [&] { row.request ? (void)readRequest(row.text) : (void)readResponse(row.text); }),
                  row.error)
            << row.text;
    }
    EXPECT_TRUE(readRequest(envelope(4, R"("hRequest": 0, "config": "abc", "hProfile": 65535)")) ==
                UserRequest(Request<kLaunchSfmTask>{0, kxtest::keyOf("abc"), 65535}));
}

TEST(UserProtoRead, MessageTextIsUtf8BothWays) {
    const UserRequest req = Request<kLogin>{3, "g\xC3\xBCst", ""};
    EXPECT_EQ(requestMessage(req).toUtf8().toStdString(), writeRequest(req));
    const UserResponse res = responseFromMessage(QString::fromUtf8(
        R"({"index": 1, "data": {"hRequest": 0, "error": {"code": 5, "message": "Überlast ✓"}}})"));
    ASSERT_EQ(typeOf(res), kLogin);
    EXPECT_EQ(std::get<kLogin>(res).error.message,
              "\xC3\x9C"
              "berlast \xE2\x9C\x93");
}

}  // namespace

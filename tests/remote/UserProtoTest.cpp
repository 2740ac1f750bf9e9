// Protocol messages as JSON text: requests written character for character and read back, responses
// read with their fields found by name and number types checked, and every failure with its exact text.
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

TEST(UserProtoWrite, RequestsMatchTheirGoldenTextsAndReadBackEqual) {
    for (const auto& row : kxtest::requestTexts()) {
        EXPECT_EQ(writeRequest(row.req), row.text);
        EXPECT_TRUE(readRequest(row.text) == row.req) << row.text;
    }
}

TEST(UserProtoWrite, MessageTextIsTheUtf8OfTheJson) {
    const UserRequest req = Request<kLogin>{3, "g\xC3\xBCst", ""};
    const QString message = requestMessage(req);
    EXPECT_EQ(message.toUtf8().toStdString(), writeRequest(req));
    EXPECT_TRUE(message.contains(QString::fromUtf8("\"g\xC3\xBCst\"")));
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
    const struct {
        std::string text;
        std::string error;
    } rows[] = {
        {ok(8, progress), "Invalid 'index' selector when deserializing std::variant"},
        {ok(-1, progress), "Error traversing variant during load"},
        {R"({"index": "5", "data": {}})", assertion + "data_.f.flags & kIntFlag"},
        {R"({"index": 2147483648, "data": {}})", assertion + "data_.f.flags & kIntFlag"},
        {R"({"index": 5})", "JSON Parsing failed - provided NVP (data) not found"},
        {ok(5, R"("status": -1, "ratio": 0.5)"), assertion + "data_.f.flags & kUintFlag"},
        {ok(5, R"("status": 256, "ratio": 0.5)"), "JSON integer 256 out of range for its field"},
        {envelope(5, R"("hRequest": 4294967296, )" + kOk + ", " + progress),
         assertion + "data_.f.flags & kUintFlag"},
        {ok(3, R"("sfmError": )" + kNoTaskError +
                   R"(, "items": [{"hModel": 0, "type": 1.5, "key": "k", "size": 0, "url": "u0"}])"),
         assertion + "data_.f.flags & kIntFlag"},
        {ok(4, R"("sfmErr": )" + kNoTaskError + R"(, "hTask": -1)"),
         assertion + "data_.f.flags & kUint64Flag"},
        {"", "JSON parse error at offset 0: the document is empty"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(kxtest::archiveErrorOf([&] { readResponse(row.text); }), row.error) << row.text;
    }
}

TEST(UserProtoRead, NarrowRequestFieldsRefuseValuesThatDoNotFit) {
    const struct {
        std::string text;
        std::string error;
    } rows[] = {
        {envelope(0, R"("hRequest": 0, "protocolType": 256)"), "JSON integer 256 out of range for its field"},
        {envelope(4, R"("hRequest": 0, "config": "abc", "hProfile": 65536)"),
         "JSON integer 65536 out of range for its field"},
        {envelope(8, R"("hRequest": 0)"), "Invalid 'index' selector when deserializing std::variant"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(kxtest::archiveErrorOf([&] { readRequest(row.text); }), row.error) << row.text;
    }
    EXPECT_TRUE(readRequest(envelope(0, R"("hRequest": 0, "protocolType": 255)")) ==
                UserRequest(Request<kHandshake>{0, 255}));
    EXPECT_TRUE(readRequest(envelope(4, R"("hRequest": 0, "config": "abc", "hProfile": 65535)")) ==
                UserRequest(Request<kLaunchSfmTask>{0, kxtest::keyOf("abc"), 65535}));
}

TEST(UserProtoRead, MessageTextIsReadAsUtf8) {
    const QString msg = QString::fromUtf8(
        R"({"index": 1, "data": {"hRequest": 0, "error": {"code": 5, "message": "Überlast ✓"}}})");
    const UserResponse res = responseFromMessage(msg);
    ASSERT_EQ(typeOf(res), kLogin);
    EXPECT_EQ(std::get<kLogin>(res).error.message,
              "\xC3\x9C"
              "berlast \xE2\x9C\x93");
}

}  // namespace

// Responses (and, for loopback services, requests) read from JSON text: fields found by name, number
// types checked, and every failure with its exact text.
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "remote/UserProto.h"
#include "tests/config/Malformed.h"
#include "tests/remote/ProtoSamples.h"

namespace {

using namespace user_proto;

const std::string kOk = R"("error": {"code": 0, "message": ""})";

std::string envelope(int index, const std::string& data) {
    return "{\"index\": " + std::to_string(index) + ", \"data\": {" + data + "}}";
}

TEST(UserProtoRead, ResponsesOfEveryType) {
    const FileKey a = kxtest::keyOf("900150983cd24fb0d6963f7d28e17f72");
    const struct {
        std::string text;
        UserResponse expected;
    } rows[] = {
        {envelope(0, R"("hRequest": 0, )" + kOk + R"(, "protocolVersion": 1)"),
         Response<kHandshake>{0, {}, 1}},
        {envelope(1, R"("hRequest": 1, "error": {"code": 4294967295, "message": "denied"})"),
         Response<kLogin>{1, {4294967295u, "denied"}}},
        {envelope(2, R"("hRequest": 2, )" + kOk + R"(, "skipUpload": false, "url": "http://h/p")"),
         Response<kGetUploadUrl>{2, {}, false, "http://h/p"}},
        {envelope(
             3,
             R"("hRequest": 3, )" + kOk +
                 R"(, "sfmError": {"code": 0, "message": "", "missingFiles": []}, "items": [)"
                 R"({"hModel": 0, "type": 8, "key": "900150983cd24fb0d6963f7d28e17f72", "size": 0, "url": "u0"},)"
                 R"({"hModel": 4294967295, "type": -1, "key": "abc", "size": 18446744073709551615, "url": ""}])"),
         Response<kGetSfmResults>{
             3,
             {},
             {},
             {{0, FileType::kKsm, a, 0, "u0"},
              {4294967295u, static_cast<FileType>(-1), kxtest::keyOf("abc"), 18446744073709551615ull, ""}}}},
        {envelope(3,
                  R"("hRequest": 3, )" + kOk +
                      R"(, "sfmError": {"code": 1, "message": "m", "missingFiles": ["abc"]}, "items": [])"),
         Response<kGetSfmResults>{3, {}, {1, "m", {kxtest::keyOf("abc")}}, {}}},
        {envelope(
             4,
             R"("hRequest": 4, )" + kOk +
                 R"(, "sfmErr": {"code": 0, "message": "", "missingFiles": []}, "hTask": 18446744073709551615)"),
         Response<kLaunchSfmTask>{4, {}, {}, 18446744073709551615ull}},
        {envelope(5, R"("hRequest": 5, )" + kOk + R"(, "status": 2, "ratio": 1)"),
         Response<kQueryProgress>{5, {}, TaskStage::kRunning, 1.0f}},
        {envelope(5, R"("hRequest": 5, )" + kOk + R"(, "status": 255, "ratio": 0.25)"),
         Response<kQueryProgress>{5, {}, static_cast<TaskStage>(255), 0.25f}},
        {envelope(6, R"("hRequest": 6, )" + kOk +
                         R"(, "mvsErr": {"code": 0, "message": "", "missingFiles": []}, "items": [)"
                         R"({"type": 6, "key": "900150983cd24fb0d6963f7d28e17f72", "size": 7, "url": "d"}])"),
         Response<kGetMvsResults>{6, {}, {}, {{FileType::kPly, a, 7, "d"}}}},
        {envelope(7, R"("hRequest": 7, )" + kOk +
                         R"(, "mvsErr": {"code": 2, "message": "", "missingFiles": []}, "hTask": 0)"),
         Response<kLaunchMvsTask>{7, {}, {2, "", {}}, 0}},
        // Members in any order, "data" before "index", unknown members ignored.
        {R"({"data": {"ratio": 0.5, "status": 1, "extra": [1], "error": {"message": "x", "code": 3},
              "hRequest": 9}, "index": 5})",
         Response<kQueryProgress>{9, {3, "x"}, TaskStage::kFetchingFiles, 0.5f}},
    };
    for (const auto& row : rows) {
        EXPECT_TRUE(readResponse(row.text) == row.expected) << row.text;
    }
}

TEST(UserProtoRead, EveryFailureReportsItsExactText) {
    const std::string missing = "JSON Parsing failed - provided NVP (";
    const std::string assertion = "rapidjson internal assertion failure: ";
    const std::string progress = R"("hRequest": 5, )" + kOk + R"(, "status": 2, "ratio": 0.5)";
    const std::string upload = R"("hRequest": 2, )" + kOk + R"(, "skipUpload": false, "url": "u")";
    const std::string results = R"("hRequest": 3, )" + kOk + R"(, "sfmError": {"code": 0, "message": "",
        "missingFiles": []}, "items": [{"hModel": 0, "type": 8, "key": "k", "size": 0, "url": "u0"}])";
    auto edited = [](std::string text, const std::string& from, const std::string& to) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const struct {
        std::string text;
        std::string error;
    } rows[] = {
        {envelope(8, progress), "Invalid 'index' selector when deserializing std::variant"},
        {envelope(-1, progress), "Error traversing variant during load"},
        {R"({"index": "5", "data": {}})", assertion + "data_.f.flags & kIntFlag"},
        {R"({"index": 5.0, "data": {}})", assertion + "data_.f.flags & kIntFlag"},
        {R"({"index": 2147483648, "data": {}})", assertion + "data_.f.flags & kIntFlag"},
        {R"({"data": {}})", missing + "index) not found"},
        {R"({"index": 5})", missing + "data) not found"},
        {R"({"index": 5, "data": []})", missing + "hRequest) not found"},
        {R"({"index": 5, "data": 5})", assertion + "IsObject()"},
        {R"([5, {}])", missing + "index) not found"},
        {envelope(5, edited(progress, kOk + ", ", "")), missing + "error) not found"},
        {envelope(5, edited(progress, R"("hRequest": 5, )", "")), missing + "hRequest) not found"},
        {envelope(5, edited(progress, R"("status": 2)", R"("status": -1)")),
         assertion + "data_.f.flags & kUintFlag"},
        {envelope(5, edited(progress, R"("status": 2)", R"("status": 256)")),
         "JSON integer 256 out of range for its field"},
        {envelope(5, edited(progress, R"("ratio": 0.5)", R"("ratio": "1")")), assertion + "IsNumber()"},
        {envelope(5, edited(progress, R"("hRequest": 5)", R"("hRequest": 4294967296)")),
         assertion + "data_.f.flags & kUintFlag"},
        {envelope(5, edited(progress, kOk, R"("error": 0)")), assertion + "IsObject()"},
        {envelope(5, edited(progress, kOk, R"("error": {"code": 0, "message": null})")),
         assertion + "IsString()"},
        {envelope(2, edited(upload, R"("skipUpload": false)", R"("skipUpload": 0)")), assertion + "IsBool()"},
        {envelope(2, edited(upload, R"("url": "u")", R"("url": ["u"])")), assertion + "IsString()"},
        {envelope(3, edited(results, R"("size": 0)", R"("size": -1)")),
         assertion + "data_.f.flags & kUint64Flag"},
        {envelope(3, edited(results, R"("type": 8)", R"("type": 1.5)")),
         assertion + "data_.f.flags & kIntFlag"},
        {envelope(3, edited(results, R"("key": "k")", R"("key": 5)")), assertion + "IsString()"},
        {envelope(3, edited(results, R"("missingFiles": [])", R"("missingFiles": [5])")),
         assertion + "IsString()"},
        {envelope(3, R"("hRequest": 3, )" + kOk +
                         R"(, "sfmError": {"code": 0, "message": "", "missingFiles": []}, "items": {})"),
         assertion + "IsArray()"},
        {envelope(3, edited(results, R"("url": "u0"})", R"("url": "u0"}, 5)")), assertion + "IsObject()"},
        {envelope(4, R"("hRequest": 4, )" + kOk +
                         R"(, "sfmErr": {"code": 0, "message": "", "missingFiles": []}, "hTask": -1)"),
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
}

TEST(UserProtoRead, WrittenMessagesReadBackEqual) {
    const auto check = [](const auto& messages, auto write, auto read) {
        for (const auto& message : messages) {
            const std::string text = write(message);
            EXPECT_TRUE(read(text) == message) << text;
            EXPECT_EQ(write(read(text)), text);
        }
    };
    check(kxtest::sampleRequests(), writeRequest, readRequest);
    check(kxtest::sampleResponses(), writeResponse, readResponse);
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

// Requests as JSON text: the envelope, field order and numbers, character for character.
#include <string>

#include <gtest/gtest.h>

#include "remote/UserProto.h"
#include "tests/config/CfgSamples.h"

namespace {

using namespace user_proto;

TEST(UserProtoWrite, RequestsMatchTheirGoldenTexts) {
    const FileKey a = kxtest::keyOf("900150983cd24fb0d6963f7d28e17f72");
    const FileKey b = kxtest::keyOf("d41d8cd98f00b204e9800998ecf8427e");
    const struct {
        UserRequest req;
        const char* text;
    } rows[] = {
        {Request<kHandshake>{0, 0}, R"({
    "index": 0,
    "data": {
        "hRequest": 0,
        "protocolType": 0
    }
})"},
        {Request<kLogin>{1, "guest", ""}, R"({
    "index": 1,
    "data": {
        "hRequest": 1,
        "username": "guest",
        "secret": ""
    }
})"},
        {Request<kGetUploadUrl>{2, a, 5000000000ull, FileType::kHeif}, R"({
    "index": 2,
    "data": {
        "hRequest": 2,
        "key": "900150983cd24fb0d6963f7d28e17f72",
        "size": 5000000000,
        "type": 2
    }
})"},
        {Request<kGetSfmResults>{3, 18446744073709551615ull}, R"({
    "index": 3,
    "data": {
        "hRequest": 3,
        "hTask": 18446744073709551615
    }
})"},
        {Request<kLaunchSfmTask>{4, b, 0}, R"({
    "index": 4,
    "data": {
        "hRequest": 4,
        "config": "d41d8cd98f00b204e9800998ecf8427e",
        "hProfile": 0
    }
})"},
        {Request<kQueryProgress>{7, 12}, R"({
    "index": 5,
    "data": {
        "hRequest": 7,
        "hTask": 12
    }
})"},
        {Request<kGetMvsResults>{4294967295u, 0}, R"({
    "index": 6,
    "data": {
        "hRequest": 4294967295,
        "hTask": 0
    }
})"},
        {Request<kLaunchMvsTask>{9, a, {b, a}}, R"({
    "index": 7,
    "data": {
        "hRequest": 9,
        "ksmFile": "900150983cd24fb0d6963f7d28e17f72",
        "images": [
            "d41d8cd98f00b204e9800998ecf8427e",
            "900150983cd24fb0d6963f7d28e17f72"
        ]
    }
})"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(writeRequest(row.req), row.text);
    }
}

TEST(UserProtoWrite, MessageTextIsTheUtf8OfTheJson) {
    const UserRequest req = Request<kLogin>{3, "g\xC3\xBCst", ""};
    const QString message = requestMessage(req);
    EXPECT_EQ(message.toUtf8().toStdString(), writeRequest(req));
    EXPECT_TRUE(message.contains(QString::fromUtf8("\"g\xC3\xBCst\"")));
}

}  // namespace

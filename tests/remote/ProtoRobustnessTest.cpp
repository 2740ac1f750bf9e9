// The message readers over malformed input: each text reads or throws an archive error, never crashes.
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "remote/UserProto.h"
#include "tests/config/Malformed.h"
#include "tests/remote/ProtoSamples.h"

namespace {

using namespace user_proto;

// 1 when the text read (and its message writes and reads back the same), 0 on an archive error.
template <class Message, class Read, class Write>
int outcome(const std::string& text, Read read, Write write) {
    try {
        const Message message = read(text);
        const std::string again = write(message);
        EXPECT_EQ(write(read(again)), again);
        return 1;
    } catch (const cereal::Exception&) {
        return 0;
    }
}

int responseOutcome(const std::string& text) {
    return outcome<UserResponse>(text, readResponse, writeResponse);
}

int requestOutcome(const std::string& text) {
    return outcome<UserRequest>(text, readRequest, writeRequest);
}

std::vector<std::string> goldens() {
    std::vector<std::string> texts;
    for (const auto& req : kxtest::sampleRequests()) {
        texts.push_back(writeRequest(req));
    }
    for (const auto& res : kxtest::sampleResponses()) {
        texts.push_back(writeResponse(res));
    }
    return texts;
}

TEST(UserProtoRobustness, EveryTruncationIsAParseError) {
    std::size_t nbInputs = 0;
    for (const std::string& golden : goldens()) {
        for (const std::string& text : kxtest::truncations(golden)) {
            EXPECT_THROW(readResponse(text), kxjson::ParseError);
            EXPECT_THROW(readRequest(text), kxjson::ParseError);
            ++nbInputs;
        }
    }
    EXPECT_GT(nbInputs, 2000u);
}

TEST(UserProtoRobustness, MutationsAndWrongTypesReadOrFailCleanly) {
    std::size_t nbInputs = 0, nbRead = 0;
    unsigned seed = 7;
    for (const std::string& golden : goldens()) {
        auto texts = kxtest::mutations(golden, 60, seed++);
        const auto wrong = kxtest::wrongTypes(golden);
        texts.insert(texts.end(), wrong.begin(), wrong.end());
        for (const std::string& text : texts) {
            nbRead += responseOutcome(text) + requestOutcome(text);
            ++nbInputs;
        }
    }
    EXPECT_GT(nbInputs, 1000u);
    EXPECT_GT(nbRead, 0u);
    EXPECT_LT(nbRead, nbInputs);
}

TEST(UserProtoRobustness, HostileShapesFail) {
    for (const std::string& text : kxtest::hostileTexts()) {
        EXPECT_EQ(responseOutcome(text), 0) << text.substr(0, 60);
        EXPECT_EQ(requestOutcome(text), 0) << text.substr(0, 60);
    }
    // A huge but well-formed message is read whole.
    Response<kGetUploadUrl> big{1, {}, false, std::string(8 << 20, 'u')};
    EXPECT_TRUE(readResponse(writeResponse(big)) == UserResponse(big));
}

}  // namespace

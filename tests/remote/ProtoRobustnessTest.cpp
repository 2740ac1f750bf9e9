// The message readers over malformed input: each text reads or throws an archive error, never crashes.
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "remote/UserProto.h"
#include "tests/config/Malformed.h"
#include "tests/remote/ProtoSamples.h"

namespace {

using namespace user_proto;

// How many of the two readers read text (each message read writes and reads back the same); the other
// throws an archive error.
int nbReaders(const std::string& text) {
    int nbRead = 0;
    const auto tryRead = [&](auto read, auto write) {
        try {
            const std::string again = write(read(text));
            EXPECT_EQ(write(read(again)), again);
            ++nbRead;
        } catch (const cereal::Exception&) {
        }
    };
    tryRead(readResponse, writeResponse);
    tryRead(readRequest, writeRequest);
    return nbRead;
}

std::vector<std::string> goldens() {
    std::vector<std::string> texts;
    for (const auto& row : kxtest::requestTexts()) {
        texts.push_back(row.text);
    }
    for (const auto& row : kxtest::responseTexts()) {
        texts.push_back(writeResponse(row.res));
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
            nbRead += nbReaders(text);
            ++nbInputs;
        }
    }
    EXPECT_GT(nbInputs, 1000u);
    EXPECT_GT(nbRead, 0u);
    EXPECT_LT(nbRead, nbInputs);
}

TEST(UserProtoRobustness, HostileShapesFail) {
    for (const std::string& text : kxtest::hostileTexts()) {
        EXPECT_EQ(nbReaders(text), 0) << text.substr(0, 60);
    }
    // A huge but well-formed message is read whole.
    Response<kGetUploadUrl> big{1, {}, false, std::string(8 << 20, 'u')};
    EXPECT_TRUE(readResponse(writeResponse(big)) == UserResponse(big));
}

}  // namespace

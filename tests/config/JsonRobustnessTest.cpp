// The configuration reader over malformed input: every input either reads or throws an archive error;
// nothing crashes, overflows the stack or throws anything else.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "config/SfmCfgJson.h"
#include "tests/config/CfgSamples.h"
#include "tests/config/Malformed.h"

namespace {

enum class Outcome { kRead, kArchiveError };

// Reads text; a record that was read must also survive another write and read.
Outcome readOutcome(const std::string& text) {
    try {
        std::istringstream is(text);
        const SfmCfg cfg = readSfmCfg(is);
        std::ostringstream os;
        writeSfmCfg(os, cfg);
        std::istringstream again(os.str());
        readSfmCfg(again);
        return Outcome::kRead;
    } catch (const cereal::Exception&) {
        return Outcome::kArchiveError;
    }
}

TEST(SfmCfgRobustness, EveryTruncationIsAParseError) {
    std::size_t nbInputs = 0;
    for (const char* golden : {kxtest::kFullCfgText, kxtest::kMinimalCfgText}) {
        for (const std::string& text : kxtest::truncations(golden)) {
            std::istringstream is(text);
            EXPECT_THROW(readSfmCfg(is), kxjson::ParseError) << text.size();
            ++nbInputs;
        }
    }
    EXPECT_GT(nbInputs, 3000u);
}

TEST(SfmCfgRobustness, MutationsReadOrFailCleanly) {
    std::size_t nbRead = 0, nbFailed = 0;
    for (const std::string& text : kxtest::mutations(kxtest::kFullCfgText, 600, 20240601)) {
        (readOutcome(text) == Outcome::kRead ? nbRead : nbFailed)++;
    }
    // Both outcomes occur: some mutations only touch insignificant bytes or a value's digits.
    EXPECT_GT(nbFailed, 300u);
    EXPECT_GT(nbRead, 0u);
}

TEST(SfmCfgRobustness, WrongTypesReadOrFailCleanly) {
    const auto texts = kxtest::wrongTypes(kxtest::kFullCfgText);
    EXPECT_GT(texts.size(), 300u);
    std::size_t nbFailed = 0;
    for (const std::string& text : texts) {
        nbFailed += readOutcome(text) == Outcome::kArchiveError;
    }
    EXPECT_GT(nbFailed, texts.size() / 2);
}

TEST(SfmCfgRobustness, HostileShapesFailWithoutExhaustingTheStack) {
    for (const std::string& text : kxtest::hostileTexts()) {
        EXPECT_EQ(readOutcome(text), Outcome::kArchiveError) << text.substr(0, 60);
    }
}

TEST(SfmCfgRobustness, HugeValidInputIsRead) {
    // Many images and one 16 MiB string.
    SfmCfg cfg = kxtest::minimalCfg();
    cfg.images.resize(20000, cfg.images[0]);
    cfg.images[0].name = std::string(16 << 20, 'n');
    std::ostringstream os;
    writeSfmCfg(os, cfg);
    EXPECT_GT(os.str().size(), std::size_t(16) << 20);
    std::istringstream is(os.str());
    EXPECT_EQ(readSfmCfg(is), cfg);
}

}  // namespace

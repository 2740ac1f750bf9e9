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

using kxtest::parse;
using kxtest::textOf;

// True when text reads (and the record writes and reads back equal in text), false on an archive error.
bool reads(const std::string& text) {
    try {
        const std::string again = textOf(parse(text));
        EXPECT_EQ(textOf(parse(again)), again);
        return true;
    } catch (const cereal::Exception&) {
        return false;
    }
}

TEST(SfmCfgRobustness, EveryTruncationIsAParseError) {
    const auto texts = kxtest::truncations(kxtest::kFullCfgText);
    for (const std::string& text : texts) {
        EXPECT_THROW(parse(text), kxjson::ParseError) << text.size();
    }
    EXPECT_GT(texts.size(), 2000u);
}

TEST(SfmCfgRobustness, MutationsWrongTypesAndHostileShapesReadOrFailCleanly) {
    // Both outcomes occur: some mutations only touch insignificant bytes or a value's digits.
    for (const auto& texts :
         {kxtest::mutations(kxtest::kFullCfgText, 600, 20240601), kxtest::wrongTypes(kxtest::kFullCfgText)}) {
        std::size_t nbRead = 0;
        for (const std::string& text : texts) {
            nbRead += reads(text);
        }
        EXPECT_GT(texts.size(), 300u);
        EXPECT_GT(nbRead, 0u);
        EXPECT_LT(nbRead, texts.size() / 2);
    }
    for (const std::string& text : kxtest::hostileTexts()) {
        EXPECT_FALSE(reads(text)) << text.substr(0, 60);
    }
}

TEST(SfmCfgRobustness, HugeValidInputIsRead) {
    // Many images and one 16 MiB string.
    SfmCfg cfg = kxtest::minimalCfg();
    cfg.images.resize(20000, cfg.images[0]);
    cfg.images[0].name = std::string(16 << 20, 'n');
    EXPECT_EQ(parse(textOf(cfg)), cfg);
}

}  // namespace

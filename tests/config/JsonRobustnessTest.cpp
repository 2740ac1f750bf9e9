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

TEST(SfmCfgRobustness, NumbersTheParserMisreadsAreRefusedButWrittenOnesRead) {
    // The parser misreads these (fuzzing found them); the longest numbers the writer makes still read.
    const std::string origin = R"({"origin": {"latitude": )";
    for (const std::string& number :
         {"0." + std::string(23, '0'), std::string("0e-30"), std::string(59, '4') + "e308",
          std::string("1844674407370955161577"), std::string(19, '4') + std::string(190, '0') + "e279",
          "0." + std::string(30, '0') + "..01", std::string("8.00010404724444472e-336")}) {
        EXPECT_THROW(parse(origin + number + R"(, "longitude": 0, "altitude": 0}})"), kxjson::ParseError);
    }
    SfmCfg cfg = kxtest::minimalCfg();
    cfg.origin = SfmCfg::GpsCoords{18446744073709551615.0, -1.7976931348623157e308, 4.9406564584124654e-324};
    EXPECT_EQ(parse(textOf(cfg)), cfg);
}

TEST(SfmCfgRobustness, HugeValidInputIsRead) {
    // Many images and one 16 MiB string.
    SfmCfg cfg = kxtest::minimalCfg();
    cfg.images.resize(20000, cfg.images[0]);
    cfg.images[0].name = std::string(16 << 20, 'n');
    EXPECT_EQ(parse(textOf(cfg)), cfg);
}

}  // namespace

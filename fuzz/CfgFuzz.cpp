// Configuration reader on arbitrary text: only the archive's errors may escape, and whatever it reads
// is written again and reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "config/JsonIo.h"
#include "tests/config/CfgSamples.h"

using kxtest::textOf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    SfmCfg cfg;
    try {
        cfg = readSfmCfg(in);
    } catch (const cereal::Exception&) {
        return 0;
    }
    const std::string text = textOf(cfg);
    std::istringstream again(text);
    if (textOf(readSfmCfg(again)) != text) {
        std::abort();
    }
    return 0;
}

// Metadata extraction on a JPEG carrying a fuzzed EXIF block and XMP packet (input: a big-endian 16-bit
// length n, n bytes of EXIF data, then the XMP packet). Only std::exception may escape.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "metadata/parseExif.h"
#include "tests/support/ImageFixtures.h"

namespace {

// An APP1 segment: marker, big-endian length (itself included), signature, payload.
std::string app1(const std::string& signature, const char* payload, size_t size) {
    const size_t length = 2 + signature.size() + size;
    std::string s = {'\xFF', '\xE1', char(length >> 8), char(length & 0xFF)};
    return s + signature + std::string(payload, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string base = kxtest::encodeJpeg(kxtest::makePattern(16, 16));
    constexpr size_t kMaxPayload = 65000;  // what one segment holds, with room for the signatures
    if (size < 2) {
        return 0;
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    const size_t exifSize = std::min({size_t(data[0]) << 8 | data[1], size - 2, kMaxPayload});
    const size_t xmpSize = std::min(size - 2 - exifSize, kMaxPayload);
    std::string jpeg = base.substr(0, 2);  // SOI
    if (exifSize > 0) {
        jpeg += app1(std::string("Exif\0\0", 6), bytes + 2, exifSize);
    }
    if (xmpSize > 0) {
        jpeg += app1(std::string("http://ns.adobe.com/xap/1.0/\0", 29), bytes + 2 + exifSize, xmpSize);
    }
    jpeg += base.substr(2);
    const std::string path = kxfuzz::writeScratch(".jpg", jpeg.data(), jpeg.size());
    kxfuzz::attempt([&] { parseExif(path.c_str()); });
    return 0;
}

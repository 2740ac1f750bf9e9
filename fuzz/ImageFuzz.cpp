// Image reader on arbitrary bytes in a KX_FUZZ_EXTENSION file, every call of it: only std::exception may
// escape, and a decode must give the measured size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "vexkit/ImageReader.h"
#include "vexkit/JpegScaledDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = kxfuzz::writeScratch(KX_FUZZ_EXTENSION, data, size);
    const auto reader = vexkit::createImageReader();
    if (!kxfuzz::attempt([&] { reader->setFile(path.c_str()); })) {
        return 0;
    }
    uint32_t width = 0, height = 0;
    const bool measured = kxfuzz::attempt([&] {
        width = reader->getWidth();
        height = reader->getHeight();
    });
    kxfuzz::attempt([&] { reader->getExifData(); });
    kxfuzz::attempt([&] { reader->getXmpData(); });
    if (!measured || uint64_t{width} * height > kxfuzz::kDecodeBudgetPixels) {
        return 0;
    }
    kxfuzz::attempt([&] {
        const vexkit::Image8UC3 img = reader->decodeTo8UC3();
        if (img.width() != width || img.height() != height) {
            std::abort();
        }
    });
    if (std::strcmp(KX_FUZZ_EXTENSION, ".jpg") == 0) {
        kxfuzz::attempt([&] { vexkit::decodeJpegAtLeast(path.c_str(), 16, 16); });
    }
    return 0;
}

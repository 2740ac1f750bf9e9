// Image reader on arbitrary bytes in a ".heic" file: opening, measuring, both metadata blocks and the
// decode. Only std::exception may escape; a decode must give the measured size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "vexkit/ImageReader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kxfuzz::quietLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = kxfuzz::scratchFile(".heic");
    kxfuzz::writeScratch(path, data, size);
    const auto reader = vexkit::createImageReader();
    if (!kxfuzz::attempt([&] { reader->setFile(path.c_str()); })) {
        return 0;
    }
    const uint32_t width = reader->getWidth();  // from the file's own size property, checked at opening
    const uint32_t height = reader->getHeight();
    kxfuzz::attempt([&] { reader->getExifData(); });
    kxfuzz::attempt([&] { reader->getXmpData(); });
    if (uint64_t{width} * height > kxfuzz::kDecodeBudgetPixels) {
        return 0;
    }
    kxfuzz::attempt([&] {
        const vexkit::Image8UC3 img = reader->decodeTo8UC3();
        if (img.width() != width || img.height() != height) {
            std::abort();
        }
    });
    return 0;
}

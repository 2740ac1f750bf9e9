#include "service/colmap/InputImages.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <turbojpeg.h>

#include "vexkit/ImageReader.h"

namespace kxcolmap {
namespace {

// Quality high enough that the features found in the copy are those of the original.
constexpr int kJpegQuality = 95;

void writeJpeg(const vexkit::Image8UC3& image, const std::filesystem::path& target) {
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitCompress(), tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (!tj ||
        tjCompress2(tj.get(), reinterpret_cast<const unsigned char*>(image.data()), int(image.width()), 0,
                    int(image.height()), TJPF_RGB, &jpeg, &size, TJSAMP_444, kJpegQuality, 0) != 0) {
        tjFree(jpeg);
        throw std::runtime_error("cannot encode " + target.filename().string() + " as JPEG");
    }
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(jpeg, tjFree);
    std::ofstream out(target, std::ios::binary);
    out.write(reinterpret_cast<const char*>(owned.get()), std::streamsize(size));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + target.string());
    }
}

}  // namespace

std::string mapperName(size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "%05zu.jpg", index);
    return name;
}

void placeImage(const std::filesystem::path& stored, FileType format, const std::filesystem::path& target) {
    if (format == FileType::kJpg) {
        std::error_code ec;
        std::filesystem::create_symlink(stored, target, ec);
        if (ec) {
            throw std::runtime_error("cannot link " + target.string() + ": " + ec.message());
        }
        return;
    }
    if (format != FileType::kHeif && format != FileType::kAvif) {
        throw std::runtime_error("image format " + std::to_string(int(format)) + " is not a photograph");
    }
    // The reader goes by the extension, which stored files lack: it reads them through a named link.
    auto named = target;
    named += extensionOf(format);
    std::error_code ec;
    std::filesystem::create_symlink(stored, named, ec);
    if (ec) {
        throw std::runtime_error("cannot link " + named.string() + ": " + ec.message());
    }
    vexkit::Image8UC3 pixels;
    try {
        const auto reader = vexkit::createImageReader();
        reader->setFile(named.c_str(), format == FileType::kHeif ? vexkit::ImageFileType::kHeif
                                                                 : vexkit::ImageFileType::kAvif);
        pixels = reader->decodeTo8UC3();
    } catch (const std::exception& e) {
        std::filesystem::remove(named, ec);
        throw std::runtime_error("cannot decode " + stored.filename().string() + ": " + e.what());
    }
    std::filesystem::remove(named, ec);
    writeJpeg(pixels, target);
}

}  // namespace kxcolmap

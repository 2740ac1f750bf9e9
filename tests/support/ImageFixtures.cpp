#include "tests/support/ImageFixtures.h"

#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <stdexcept>

#include <exiv2/exiv2.hpp>
#include <libheif/heif_cxx.h>
#include <turbojpeg.h>

#include "tests/support/TestSupport.h"
#include "vexkit/ImageReader.h"

namespace kxtest {
namespace {

std::string rationalDms(double degrees) {
    const long long t = std::llround(std::fabs(degrees) * 3600 * 10000);  // in 1e-4 seconds
    return std::to_string(t / 36000000) + "/1 " + std::to_string(t / 600000 % 60) + "/1 " +
           std::to_string(t % 600000) + "/10000";
}

std::string signedText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%+.9f", value);
    return text;
}

template <typename Data>
void fill(Data& data, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [key, value] : values) {
        data[key] = value;
    }
}

}  // namespace

ImageTags& ImageTags::setExif(const std::string& key, const std::string& value) {
    exif.emplace_back(key, value);
    return *this;
}

ImageTags& ImageTags::setXmp(const std::string& key, const std::string& value) {
    xmp.emplace_back(key, value);
    return *this;
}

ImageTags& ImageTags::exifGps(double latitude, double longitude, std::optional<double> altitude) {
    setExif("Exif.GPSInfo.GPSLatitudeRef", latitude < 0 ? "S" : "N");
    setExif("Exif.GPSInfo.GPSLatitude", rationalDms(latitude));
    setExif("Exif.GPSInfo.GPSLongitudeRef", longitude < 0 ? "W" : "E");
    setExif("Exif.GPSInfo.GPSLongitude", rationalDms(longitude));
    if (altitude) {
        setExif("Exif.GPSInfo.GPSAltitudeRef", *altitude < 0 ? "1" : "0");
        setExif("Exif.GPSInfo.GPSAltitude",
                std::to_string(std::llround(std::fabs(*altitude) * 1000)) + "/1000");
    }
    return *this;
}

ImageTags& ImageTags::droneGps(double latitude, double longitude, double absoluteAltitude) {
    setXmp("Xmp.drone-dji.GpsLatitude", signedText(latitude));
    setXmp("Xmp.drone-dji.GpsLongitude", signedText(longitude));
    return setXmp("Xmp.drone-dji.AbsoluteAltitude", signedText(absoluteAltitude));
}

vexkit::Image8UC3 makePattern(uint32_t width, uint32_t height) {
    vexkit::Image8UC3 image(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        vexkit::Rgb8* row = image.row(y);
        for (uint32_t x = 0; x < width; ++x) {
            const double u = double(x) / std::max(1u, width - 1);
            const double v = double(y) / std::max(1u, height - 1);
            const double stripes = 0.5 + 0.5 * std::sin(6.283185307 * (3 * u + 2 * v));
            row[x].r = static_cast<uint8_t>(std::lround(255 * u));
            row[x].g = static_cast<uint8_t>(std::lround(255 * v));
            row[x].b = static_cast<uint8_t>(std::lround(40 + 170 * stripes));
        }
    }
    return image;
}

double psnr(const vexkit::Image8UC3& a, const vexkit::Image8UC3& b) {
    if (a.width() != b.width() || a.height() != b.height()) {
        throw std::invalid_argument("psnr of images of different sizes");
    }
    double sum = 0;
    const auto* pa = reinterpret_cast<const uint8_t*>(a.data());
    const auto* pb = reinterpret_cast<const uint8_t*>(b.data());
    const size_t n = 3 * a.size();
    for (size_t i = 0; i < n; ++i) {
        const double d = double(pa[i]) - pb[i];
        sum += d * d;
    }
    if (sum == 0) {
        return std::numeric_limits<double>::infinity();
    }
    return 10 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

vexkit::Image8UC3 shrinkByAveraging(const vexkit::Image8UC3& image, uint32_t width, uint32_t height) {
    vexkit::Image8UC3 out(width, height);
    const double sx = double(image.width()) / width;
    const double sy = double(image.height()) / height;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t x0 = uint32_t(x * sx), x1 = std::max(x0 + 1, uint32_t((x + 1) * sx));
            const uint32_t y0 = uint32_t(y * sy), y1 = std::max(y0 + 1, uint32_t((y + 1) * sy));
            double r = 0, g = 0, b = 0;
            for (uint32_t v = y0; v < std::min(y1, image.height()); ++v) {
                for (uint32_t u = x0; u < std::min(x1, image.width()); ++u) {
                    r += image.at(u, v).r;
                    g += image.at(u, v).g;
                    b += image.at(u, v).b;
                }
            }
            const double n = double(std::min(x1, image.width()) - x0) * (std::min(y1, image.height()) - y0);
            out.at(x, y) = {uint8_t(std::lround(r / n)), uint8_t(std::lround(g / n)),
                            uint8_t(std::lround(b / n))};
        }
    }
    return out;
}

std::string encodeJpeg(const vexkit::Image8UC3& image, int quality) {
    std::unique_ptr<void, int (*)(void*)> tj(tjInitCompress(), &tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj.get(), reinterpret_cast<const unsigned char*>(image.data()),
                               int(image.width()), int(3 * image.width()), int(image.height()), TJPF_RGB,
                               &jpeg, &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(jpeg, &tjFree);
    if (rc != 0) {
        throw std::runtime_error(std::string("tjCompress2: ") + tjGetErrorStr2(tj.get()));
    }
    return std::string(reinterpret_cast<const char*>(jpeg), size);
}

std::string encodeExifTiff(const ImageTags& tags) {
    Exiv2::ExifData exif;
    fill(exif, tags.exif);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return std::string(blob.begin(), blob.end());
}

std::string encodeXmpPacket(const ImageTags& tags) {
    vexkit::initXmpParserOnce();
    Exiv2::XmpData xmp;
    fill(xmp, tags.xmp);
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, xmp) != 0) {
        throw std::runtime_error("cannot encode the XMP packet");
    }
    return packet;
}

void writeJpeg(const std::filesystem::path& path, uint32_t width, uint32_t height, const ImageTags& tags) {
    writeFile(path, encodeJpeg(makePattern(width, height)));
    if (tags.empty()) {
        return;
    }
    vexkit::initXmpParserOnce();
    auto image = Exiv2::ImageFactory::open(path.string());
    image->readMetadata();
    fill(image->exifData(), tags.exif);
    fill(image->xmpData(), tags.xmp);
    image->writeMetadata();
}

void writeHeif(const std::filesystem::path& path, uint32_t width, uint32_t height, const ImageTags& tags,
               const HeifOptions& options) {
    try {
        const bool avif = path.extension() == ".avif";
        heif::Encoder encoder(avif ? heif_compression_AV1 : heif_compression_HEVC);
        encoder.set_lossy_quality(90);
        try {
            encoder.set_integer_parameter("speed", 9);  // AV1 only, optional: fixtures need no quality
        } catch (const heif::Error&) {
        }
        heif::Image image;
        image.create(int(width), int(height), heif_colorspace_RGB, heif_chroma_interleaved_RGB);
        image.add_plane(heif_channel_interleaved, int(width), int(height), 8);
        int stride = 0;
        uint8_t* plane = image.get_plane(heif_channel_interleaved, &stride);
        const vexkit::Image8UC3 pattern = makePattern(width, height);
        for (uint32_t y = 0; y < height; ++y) {
            std::memcpy(plane + size_t(y) * stride, pattern.row(y), 3 * size_t(width));
        }
        heif::Context ctx;
        const heif::ImageHandle primary = ctx.encode_image(image, encoder);
        for (int i = 1; i < options.nbTopLevelImages; ++i) {
            ctx.encode_image(image, encoder);
        }
        if (!tags.exif.empty()) {
            std::string block = encodeExifTiff(tags);
            if (options.exifHeaderPrefix) {
                block.insert(0, std::string("Exif\0\0", 6));
            }
            ctx.add_exif_metadata(primary, block.data(), int(block.size()));
        }
        if (!tags.xmp.empty()) {
            const std::string packet = encodeXmpPacket(tags);
            ctx.add_XMP_metadata(primary, packet.data(), int(packet.size()));
        }
        ctx.write_to_file(path.string());
    } catch (const heif::Error& e) {
        throw std::runtime_error("libheif refuses " + path.string() + ": " + e.get_message());
    }
}

}  // namespace kxtest

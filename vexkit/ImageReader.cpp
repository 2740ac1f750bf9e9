// The image readers live in one unit so that every failure they assert reports "ImageReader".
#include "vexkit/ImageReader.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include <boost/gil/extension/io/jpeg/read.hpp>
#include <boost/numeric/conversion/cast.hpp>
#include <exiv2/image.hpp>
#include <libheif/heif.h>
#include <turbojpeg.h>

#include "vexkit/Assert.h"
#include "vexkit/FileType.h"
#include "vexkit/HeifAvifImageReader.h"
#include "vexkit/HeifError.h"
#include "vexkit/JpegCodec.h"
#include "vexkit/JpegImageReader.h"
#include "vexkit/cpp_utils.h"

namespace vexkit {
namespace {

// Sizes from the libraries are ints; a negative one is a numeric-conversion error, never a huge size.
uint32_t cast32u(int value) {
    return boost::numeric_cast<uint32_t>(value);
}

// The libheif wrapper throws heif::Error, which is no std::exception: rethrow it as one.
template <typename F>
auto heifCall(F&& f) {
    try {
        return f();
    } catch (const HeifError&) {
        throw;
    } catch (const heif::Error& e) {
        throw HeifError(e);
    }
}

}  // namespace

void checkImagePixels(uint32_t width, uint32_t height) {
    if (uint64_t{width} * height > kMaxImagePixels) {
        throw std::runtime_error("the image is " + std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels, more than the " + std::to_string(kMaxImagePixels / 1'000'000) +
                                 " megapixels this program reads");
    }
}

// ---- TurboJPEG steps

namespace jpeg {

void TjDestroy::operator()(void* h) const noexcept {
    VEXKIT_WARN_UNLESS(tjDestroy(h) == 0);
}

TjHandle makeDecompressor() {
    TjHandle tj(tjInitDecompress());
    VEXKIT_ASSERT(tj != nullptr);
    return tj;
}

std::pair<int, int> readHeader(const TjHandle& tj, std::vector<unsigned char>& jpegData) {
    int width = 0;
    int height = 0;
    VEXKIT_ASSERT(tjDecompressHeader(tj.get(), jpegData.data(), jpegData.size(), &width, &height) == 0);
    checkImagePixels(cast32u(width), cast32u(height));
    return {width, height};
}

Image8UC3 decompressRgb(const TjHandle& tj, std::vector<unsigned char>& jpegData, int width, int height) {
    Image8UC3 img(cast32u(width), cast32u(height));
    VEXKIT_ASSERT(0 == tjDecompress2(tj.get(), jpegData.data(), jpegData.size(),
                                     reinterpret_cast<uint8_t*>(img.data()), width,
                                     sizeof(Image8UC3::Pixel) * width, height, TJPF_RGB, TJFLAG_ACCURATEDCT));
    return img;
}

}  // namespace jpeg

// ---- JPEG

void JpegImageReader::setFile(const char* path) {
    const std::string ext = getFileExtension(path);
    VEXKIT_ASSERT(ext == ".jpg" || ext == ".jpeg");
    mPath = path;
    mShape.reset();
    mMetaData.reset();
}

void JpegImageReader::loadShape() const {
    // Reads the header only; the scan data is left alone.
    const auto backend = boost::gil::read_image_info(mPath, boost::gil::jpeg_tag());
    checkImagePixels(backend._info._width, backend._info._height);
    mShape.emplace(backend._info._width, backend._info._height);
}

uint32_t JpegImageReader::getWidth() const {
    if (!mShape) {
        loadShape();
    }
    return mShape->first;
}

uint32_t JpegImageReader::getHeight() const {
    if (!mShape) {
        loadShape();
    }
    return mShape->second;
}

void JpegImageReader::loadMetaData() const {
    if (mMetaData) {
        return;
    }
    initXmpParserOnce();
    auto image = Exiv2::ImageFactory::open(mPath);
    {
        const std::lock_guard<std::recursive_mutex> lock(xmpToolkitMutex());
        image->readMetadata();
    }
    MetaData metaData{image->exifData(), image->xmpData()};
    metaData.xmp.setPacket(image->xmpPacket());
    mMetaData = std::move(metaData);
}

Exiv2::ExifData JpegImageReader::getExifData() const {
    loadMetaData();
    return mMetaData->exif;
}

Exiv2::XmpData JpegImageReader::getXmpData() const {
    loadMetaData();
    return mMetaData->xmp;
}

Image8UC3 JpegImageReader::decodeTo8UC3() const {
    std::vector<unsigned char> jpegData = loadBinaryFile<unsigned char>(mPath.c_str());
    const jpeg::TjHandle tj = jpeg::makeDecompressor();
    const auto [width, height] = jpeg::readHeader(tj, jpegData);
    // Two header readers must agree before pixels are trusted to the measured size.
    VEXKIT_ASSERT(cast32u(width) == getWidth());
    VEXKIT_ASSERT(cast32u(height) == getHeight());
    return jpeg::decompressRgb(tj, jpegData, width, height);
}

// ---- HEIF and AVIF

void HeifAvifImageReader::setFile(const char* path) {
    const std::string ext = getFileExtension(path);
    VEXKIT_ASSERT(ext == ".avif" || ext == ".heif" || ext == ".heic");
    mPath = path;
    // Nothing of the previous file may answer for this one if reading fails.
    mHandle = heif::ImageHandle();
    heifCall([&] { mCtx.read_from_file(mPath); });
    VEXKIT_ASSERT(mCtx.get_number_of_top_level_images() == 1);
    heif::ImageHandle handle = heifCall([&] { return mCtx.get_primary_image_handle(); });
    checkImagePixels(cast32u(handle.get_ispe_width()), cast32u(handle.get_ispe_height()));
    mHandle = std::move(handle);
}

const heif::ImageHandle& HeifAvifImageReader::primary() const {
    VEXKIT_ASSERT(!mHandle.empty());
    return mHandle;
}

uint32_t HeifAvifImageReader::getWidth() const {
    return cast32u(primary().get_ispe_width());
}

uint32_t HeifAvifImageReader::getHeight() const {
    return cast32u(primary().get_ispe_height());
}

Exiv2::ExifData HeifAvifImageReader::getExifData() const {
    const std::vector<heif_item_id> exifIds = primary().get_list_of_metadata_block_IDs("Exif");
    Exiv2::ExifData dst;
    if (exifIds.empty()) {
        return dst;
    }
    VEXKIT_ASSERT(exifIds.size() == 1);
    const std::vector<uint8_t> exif = heifCall([&] { return primary().get_metadata(exifIds[0]); });
    // The block starts with a big-endian count of bytes between its first four and the TIFF header.
    VEXKIT_ASSERT(exif.size() >= 4);
    const uint32_t tiffOffset =
        uint32_t(exif[0]) << 24 | uint32_t(exif[1]) << 16 | uint32_t(exif[2]) << 8 | exif[3];
    VEXKIT_ASSERT(tiffOffset <= exif.size() - 4);
    const size_t tiffStart = 4 + size_t(tiffOffset);
    Exiv2::ExifParser::decode(dst, exif.data() + tiffStart, static_cast<uint32_t>(exif.size() - tiffStart));
    return dst;
}

Exiv2::XmpData HeifAvifImageReader::getXmpData() const {
    // Files store XMP as a "mime" item of content type "application/rdf+xml"; libheif never types it "XMP".
    std::vector<heif_item_id> xmpIds;
    for (const heif_item_id id : primary().get_list_of_metadata_block_IDs()) {
        const std::string type = primary().get_metadata_type(id);
        if (type == "XMP" ||
            (type == "mime" && primary().get_metadata_content_type(id) == "application/rdf+xml")) {
            xmpIds.push_back(id);
        }
    }
    Exiv2::XmpData dst;
    if (xmpIds.empty()) {
        return dst;
    }
    VEXKIT_ASSERT(xmpIds.size() == 1);
    const std::vector<uint8_t> block = heifCall([&] { return primary().get_metadata(xmpIds[0]); });
    const std::string xmpPacket(block.begin(), block.end());
    initXmpParserOnce();
    const std::lock_guard<std::recursive_mutex> lock(xmpToolkitMutex());
    VEXKIT_ASSERT(Exiv2::XmpParser::decode(dst, xmpPacket) == 0);
    return dst;
}

Image8UC3 HeifAvifImageReader::decodeTo8UC3() const {
    using Options = std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options*)>;
    const Options options(heif_decoding_options_alloc(), &heif_decoding_options_free);
    VEXKIT_ASSERT(options != nullptr);
    options->ignore_transformations = 1;
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error error =
        heif_decode_image(primary().get_raw_image_handle(), &decoded, heif_colorspace_RGB,
                          heif_chroma_interleaved_RGB, options.get());
    const heif::Image img(decoded);  // released on every path, failed decodes included
    checkHeif(error);
    VEXKIT_ASSERT(decoded != nullptr);
    const heif_channel channel = heif_channel_interleaved;
    VEXKIT_ASSERT(img.get_bits_per_pixel(channel) == sizeof(Image8UC3::Pixel) * 8);
    VEXKIT_ASSERT(cast32u(img.get_width(channel)) == getWidth());
    VEXKIT_ASSERT(cast32u(img.get_height(channel)) == getHeight());
    int stride = 0;
    const uint8_t* plane = img.get_plane(channel, &stride);
    const size_t rowBytes = sizeof(Image8UC3::Pixel) * getWidth();
    VEXKIT_ASSERT(plane != nullptr && stride >= 0 && size_t(stride) >= rowBytes);
    Image8UC3 out(getWidth(), getHeight());
    for (uint32_t y = 0; y < out.height(); ++y) {
        std::memcpy(out.row(y), plane + size_t(y) * size_t(stride), rowBytes);
    }
    return out;
}

// ---- Dispatch

ImageFileType imageFileTypeOf(const char* path) {
    const std::string ext = getFileExtension(path);
    if (ext == ".jpg" || ext == ".jpeg") {
        return ImageFileType::kJpeg;
    }
    if (ext == ".avif") {
        return ImageFileType::kAvif;
    }
    if (ext == ".heif" || ext == ".heic") {
        return ImageFileType::kHeif;
    }
    throw std::runtime_error("unknown image file type");
}

ImageReader::ImageReader() = default;
ImageReader::~ImageReader() = default;

HeifAvifImageReader& ImageReader::heifReader() const {
    if (!mHeifReader) {
        mHeifReader = std::make_unique<HeifAvifImageReader>();
    }
    return *mHeifReader;
}

JpegImageReader& ImageReader::jpegReader() const {
    if (!mJpegReader) {
        mJpegReader = std::make_unique<JpegImageReader>();
    }
    return *mJpegReader;
}

template <typename F>
auto ImageReader::dispatch(F&& f) const {
    switch (mType) {
        case ImageFileType::kJpeg:
            return f(jpegReader());
        case ImageFileType::kAvif:
        case ImageFileType::kHeif:
            return f(heifReader());
    }
    VEXKIT_THROW("You should never reach here\n");
}

void ImageReader::setFile(const char* path) {
    setFile(path, imageFileTypeOf(path));
}

void ImageReader::setFile(const char* path, ImageFileType type) {
    mType = type;
    dispatch([path](auto& reader) { reader.setFile(path); });
}

uint32_t ImageReader::getWidth() const {
    return dispatch([](auto& reader) { return reader.getWidth(); });
}

uint32_t ImageReader::getHeight() const {
    return dispatch([](auto& reader) { return reader.getHeight(); });
}

Exiv2::XmpData ImageReader::getXmpData() const {
    return dispatch([](auto& reader) { return reader.getXmpData(); });
}

Exiv2::ExifData ImageReader::getExifData() const {
    return dispatch([](auto& reader) { return reader.getExifData(); });
}

Image8UC3 ImageReader::decodeTo8UC3() const {
    return dispatch([](auto& reader) { return reader.decodeTo8UC3(); });
}

std::unique_ptr<IImageReader> createImageReader() {
    return std::make_unique<ImageReader>();
}

std::pair<uint32_t, uint32_t> getImageSize(const char* path) {
    if (imageFileTypeOf(path) == ImageFileType::kJpeg) {
        JpegImageReader reader;
        reader.setFile(path);
        return {reader.getWidth(), reader.getHeight()};
    }
    HeifAvifImageReader reader;
    reader.setFile(path);
    return {reader.getWidth(), reader.getHeight()};
}

}  // namespace vexkit

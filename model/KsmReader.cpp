#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <string>

#include <cereal/details/helpers.hpp>

#include "model/ByteOrder.h"
#include "model/ByteSource.h"
#include "model/HugePages.h"
#include "model/KsmModel.h"

#include "vexkit/Exception.h"

namespace ksm {
namespace {

using kxmodel::ByteSource;

// Widths of the numbers (or raw blocks) that make up one list element, in file order. A short read
// names the item that was cut, exactly as reading it on its own would.
using Layout = std::initializer_list<size_t>;
constexpr Layout kPoseLayout = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
constexpr Layout kCameraLayout = {4, 4, 4, 4, 20};
constexpr Layout kSizeLayout = {4, 4};
constexpr Layout kPointLayout = {4, 4, 4};
constexpr Layout kColorLayout = {1, 1, 1};
constexpr Layout kMeasurementLayout = {4, 4, 4};

// The smallest capture: two indices, the measurement and path counts, the digest.
constexpr uint64_t kMinCaptureBytes = 4 + 4 + 8 + 8 + 16;
// Where the stream cannot say how many bytes remain, lists grow as their data arrives: the first step
// is small and each next one doubles, up to a cap.
constexpr uint64_t kFirstStepBytes = 4096;
constexpr uint64_t kMaxStepBytes = uint64_t(1) << 26;

class Archive {
public:
    explicit Archive(ByteSource& src) : mSrc(src) {}

    void readEndianness() {
        const auto flag = number<uint8_t>();
        // Only 1 marks little-endian numbers, as the archive's own reader decides.
        mSwap = (flag == 1) != kxmodel::hostIsLittleEndian();
    }

    template <typename T>
    T number() {
        T v;
        const size_t got = mSrc.read(&v, sizeof v);
        if (got != sizeof v) {
            shortRead(sizeof v, got);
        }
        return mSwap ? kxmodel::swapped(v) : v;
    }

    // A list of records made only of 4-byte numbers (swapWords) or of single bytes.
    template <typename T>
    void list(std::vector<T>& out, Layout layout, bool swapWords) {
        const uint64_t n = number<uint64_t>();
        out.clear();
        const auto rem = mSrc.remaining();
        if (rem && n > *rem / sizeof(T)) {
            cut(layout, sizeof(T), *rem);
        }
        if (rem) {
            kxmodel::reserveLarge(out, static_cast<size_t>(n));
        }
        readSized(out, n, rem, [&](uint64_t bytesRead) { cut(layout, sizeof(T), bytesRead); });
        if (mSwap && swapWords) {
            kxmodel::swapWords32(out.data(), out.size() * sizeof(T) / 4);
        }
    }

    void string(std::string& out) {
        const uint64_t n = number<uint64_t>();
        out.clear();
        const auto rem = mSrc.remaining();
        if (rem && n > *rem) {
            shortRead(n, *rem);
        }
        readSized(out, n, rem, [&](uint64_t bytesRead) { shortRead(n, bytesRead); });
    }

    void digest(std::array<uint32_t, 4>& out) {
        const size_t got = mSrc.read(out.data(), sizeof out);
        if (got != sizeof out) {
            shortRead(sizeof out, got);
        }
        if (mSwap) {
            kxmodel::swapWords32(out.data(), out.size());
        }
    }

    void captures(std::vector<Capture>& out) {
        const uint64_t n = number<uint64_t>();
        out.clear();
        const auto rem = mSrc.remaining();
        out.reserve(static_cast<size_t>(std::min<uint64_t>(n, rem ? *rem / kMinCaptureBytes : 1024)));
        for (uint64_t i = 0; i < n; ++i) {
            Capture& c = out.emplace_back();
            c.cameraIdx = number<uint32_t>();
            c.poseIdx = number<uint32_t>();
            list(c.measurements, kMeasurementLayout, true);
            string(c.imagePath);
            digest(c.imageDigest);
        }
    }

private:
    ByteSource& mSrc;
    bool mSwap = false;

    // Sizes `out` to n elements and reads them: at once where the remaining bytes are known, otherwise
    // in growing steps as the data arrives. When the data ends, onShort (which throws) gets the number
    // of bytes read.
    template <typename Container, typename OnShort>
    void readSized(Container& out, uint64_t n, std::optional<uint64_t> rem, OnShort onShort) {
        constexpr size_t size = sizeof(typename Container::value_type);
        uint64_t step = rem ? n : std::max<uint64_t>(1, kFirstStepBytes / size);
        for (uint64_t done = 0; done < n; step = std::min(2 * step, kMaxStepBytes / size)) {
            const size_t k = static_cast<size_t>(std::min(n - done, step));
            out.resize(done + k);
            const size_t got = mSrc.read(out.data() + done, k * size);
            if (got != k * size) {
                onShort(done * size + got);
            }
            done += k;
        }
    }

    [[noreturn]] static void shortRead(uint64_t wanted, uint64_t got) {
        throw cereal::Exception("Failed to read " + std::to_string(wanted) +
                                " bytes from input stream! Read " + std::to_string(got));
    }

    // The list data ended `bytesThere` bytes into its elements: name the item cut there.
    [[noreturn]] static void cut(Layout layout, size_t elementSize, uint64_t bytesThere) {
        const uint64_t offset = bytesThere % elementSize;
        uint64_t start = 0;
        for (size_t width : layout) {
            if (offset < start + width) {
                shortRead(width, offset - start);
            }
            start += width;
        }
        shortRead(elementSize, offset);  // unreachable for a layout that covers the element
    }
};

uint64_t littleEndian(const unsigned char* bytes, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) {
        v = (v << 8) | bytes[i];
    }
    return v;
}

}  // namespace

KestrixSparseModel loadKsm(std::istream& in) {
    ByteSource src(in);
    // Magic and version, both little-endian; a short or other header is no model.
    unsigned char head[12];
    if (src.read(head, sizeof head) != sizeof head || littleEndian(head, 8) != kMagic ||
        littleEndian(head + 8, 4) != kVersion) {
        return {};
    }
    Archive ar(src);
    ar.readEndianness();
    Model<1u> model;
    ar.list(model.poses, kPoseLayout, true);
    ar.list(model.cameras, kCameraLayout, true);
    ar.list(model.cameraImageSizes, kSizeLayout, true);
    ar.list(model.points, kPointLayout, true);
    ar.list(model.colors, kColorLayout, false);
    ar.captures(model.captures);
    return KestrixSparseModel(std::in_place_index<1>, std::move(model));
}

KestrixSparseModel loadKsm(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    try {
        return loadKsm(in);
    } catch (const cereal::Exception& e) {
        throw vexkit::FileError(path, e.what());
    }
}

}  // namespace ksm

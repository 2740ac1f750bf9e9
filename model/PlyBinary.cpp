// Binary PLY element data: fixed-size entries are read in blocks straight from the stream buffer;
// entries with lists are walked one value at a time.
#include <cstring>
#include <limits>

#include "model/ByteOrder.h"
#include "model/ByteSource.h"
#include "model/HugePages.h"
#include "model/PlyDecode.h"

namespace kxmodel {
namespace {

template <typename T>
T load(const char* p, bool swap) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return swap ? swapped(v) : v;
}

double loadAsDouble(const char* p, PlyType type, bool swap) {
    switch (type) {
        case PlyType::kChar:
            return load<int8_t>(p, swap);
        case PlyType::kUChar:
            return load<uint8_t>(p, swap);
        case PlyType::kShort:
            return load<int16_t>(p, swap);
        case PlyType::kUShort:
            return load<uint16_t>(p, swap);
        case PlyType::kInt:
            return load<int32_t>(p, swap);
        case PlyType::kUInt:
            return load<uint32_t>(p, swap);
        case PlyType::kFloat:
            return load<float>(p, swap);
        case PlyType::kDouble:
            return load<double>(p, swap);
    }
    return 0;
}

// A list length; negative lengths are malformed.
uint64_t loadCount(const char* p, PlyType type, bool swap, const PlyElement& e) {
    const double v = loadAsDouble(p, type, swap);
    if (v < 0) {
        plyFail("negative list length in element " + e.name);
    }
    return static_cast<uint64_t>(v);
}

template <typename T, bool Swap>
void positionsOf(const char* p, size_t nb, size_t stride, const size_t* off, std::array<double, 3>* out) {
    for (size_t i = 0; i < nb; ++i, p += stride) {
        out[i] = {double(load<T>(p + off[0], Swap)), double(load<T>(p + off[1], Swap)),
                  double(load<T>(p + off[2], Swap))};
    }
}

class FixedLayout {
public:
    FixedLayout(const PlyElement& e, const VertexTargets& t, bool swap) : mSwap(swap) {
        std::vector<size_t> offsets;
        for (const PlyProperty& p : e.properties) {
            offsets.push_back(mStride);
            mStride += plyTypeSize(p.type);
        }
        for (int k = 0; k < 3; ++k) {
            if (t.keepsPositions()) {
                mPosOff[k] = offsets[t.pos[k]];
                mPosType[k] = e.properties[t.pos[k]].type;
            }
            if (t.keepsColors()) {
                mColOff[k] = offsets[t.col[k]];
                mColType[k] = e.properties[t.col[k]].type;
                mColBytes = mColBytes && mColType[k] == PlyType::kUChar;
            }
        }
    }
    size_t stride() const { return mStride; }

    void positions(const char* p, size_t nb, std::array<double, 3>* out) const {
        const bool same = mPosType[0] == mPosType[1] && mPosType[1] == mPosType[2];
        if (same && mPosType[0] == PlyType::kFloat) {
            mSwap ? positionsOf<float, true>(p, nb, mStride, mPosOff, out)
                  : positionsOf<float, false>(p, nb, mStride, mPosOff, out);
        } else if (same && mPosType[0] == PlyType::kDouble) {
            mSwap ? positionsOf<double, true>(p, nb, mStride, mPosOff, out)
                  : positionsOf<double, false>(p, nb, mStride, mPosOff, out);
        } else {
            for (size_t i = 0; i < nb; ++i, p += mStride) {
                for (int k = 0; k < 3; ++k) {
                    out[i][k] = loadAsDouble(p + mPosOff[k], mPosType[k], mSwap);
                }
            }
        }
    }

    void colors(const char* p, size_t nb, std::array<unsigned char, 3>* out) const {
        if (mColBytes) {
            for (size_t i = 0; i < nb; ++i, p += mStride) {
                out[i] = {static_cast<unsigned char>(p[mColOff[0]]),
                          static_cast<unsigned char>(p[mColOff[1]]),
                          static_cast<unsigned char>(p[mColOff[2]])};
            }
            return;
        }
        for (size_t i = 0; i < nb; ++i, p += mStride) {
            for (int k = 0; k < 3; ++k) {
                out[i][k] = colourByte(loadAsDouble(p + mColOff[k], mColType[k], mSwap), mColType[k]);
            }
        }
    }

private:
    bool mSwap;
    size_t mStride = 0;
    size_t mPosOff[3] = {};
    PlyType mPosType[3] = {PlyType::kFloat, PlyType::kFloat, PlyType::kFloat};
    size_t mColOff[3] = {};
    PlyType mColType[3] = {PlyType::kUChar, PlyType::kUChar, PlyType::kUChar};
    bool mColBytes = true;  // all three uchar: copied as they are
};

void readFixed(ByteSource& src, const PlyElement& e, bool swap, const VertexTargets& t) {
    const FixedLayout layout(e, t, swap);
    const size_t stride = layout.stride();
    const size_t reserve = initialReserve(e.count, src.remaining());
    if (t.keepsPositions()) {
        reserveLarge(*t.positions, reserve);
    }
    if (t.keepsColors()) {
        reserveLarge(*t.colors, reserve);
    }
    for (uint64_t done = 0; done < e.count;) {
        const std::string_view view = src.peek(stride);
        const size_t nb = static_cast<size_t>(std::min<uint64_t>(e.count - done, view.size() / stride));
        if (nb == 0) {
            failTruncated(e);
        }
        if (t.keepsPositions()) {
            t.positions->resize(done + nb);
            layout.positions(view.data(), nb, t.positions->data() + done);
        }
        if (t.keepsColors()) {
            t.colors->resize(done + nb);
            layout.colors(view.data(), nb, t.colors->data() + done);
        }
        src.consume(nb * stride);
        done += nb;
    }
}

// Entries with lists: one value at a time.
void readVariable(ByteSource& src, const PlyElement& e, bool swap, const VertexTargets* t) {
    const size_t reserve = initialReserve(e.count, src.remaining());
    if (t && t->keepsPositions()) {
        reserveLarge(*t->positions, reserve);
    }
    if (t && t->keepsColors()) {
        reserveLarge(*t->colors, reserve);
    }
    std::array<double, 3> pos{};
    std::array<unsigned char, 3> col{};
    for (uint64_t n = 0; n < e.count; ++n) {
        for (size_t j = 0; j < e.properties.size(); ++j) {
            const PlyProperty& p = e.properties[j];
            const size_t size = plyTypeSize(p.isList ? p.countType : p.type);
            const std::string_view v = src.peek(size);
            if (v.size() < size) {
                failTruncated(e);
            }
            if (p.isList) {
                const uint64_t items = loadCount(v.data(), p.countType, swap, e);
                src.consume(size);
                const uint64_t itemSize = plyTypeSize(p.type);
                if (items > std::numeric_limits<uint64_t>::max() / itemSize ||
                    src.skip(items * itemSize) != items * itemSize) {
                    failTruncated(e);
                }
                continue;
            }
            for (int k = 0; t && k < 3; ++k) {
                if (t->pos[k] == static_cast<int>(j)) {
                    pos[k] = loadAsDouble(v.data(), p.type, swap);
                }
                if (t->col[k] == static_cast<int>(j)) {
                    col[k] = colourByte(loadAsDouble(v.data(), p.type, swap), p.type);
                }
            }
            src.consume(size);
        }
        if (t && t->keepsPositions()) {
            t->positions->push_back(pos);
        }
        if (t && t->keepsColors()) {
            t->colors->push_back(col);
        }
    }
}

}  // namespace

void readBinaryElement(ByteSource& src, const PlyElement& e, bool swap, const VertexTargets* t) {
    const uint64_t minSize = e.minBinaryEntrySize();
    if (e.count == 0 || minSize == 0) {
        return;
    }
    checkEntriesFit(e, minSize, src.remaining());
    if (e.hasLists()) {
        readVariable(src, e, swap, t);
    } else if (t) {
        readFixed(src, e, swap, *t);
    } else if (e.count > std::numeric_limits<uint64_t>::max() / minSize ||
               src.skip(e.count * minSize) != e.count * minSize) {
        failTruncated(e);
    }
}

}  // namespace kxmodel

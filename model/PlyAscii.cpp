// Ascii PLY element data: whitespace-separated values, one entry after another. Only the values that
// are kept are converted; the others are only counted.
#include <charconv>
#include <limits>

#include "model/ByteSource.h"
#include "model/HugePages.h"
#include "model/PlyDecode.h"

namespace kxmodel {
namespace {

// No number needs more characters than this; anything longer is not one.
constexpr size_t kMaxToken = 4096;

inline bool isSpace(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

class Tokens {
public:
    Tokens(ByteSource& src, const PlyElement& e) : mSrc(src), mElement(e) {}

    // The next value; fails at the end of the data.
    std::string_view next() {
        for (;;) {
            const std::string_view view = mSrc.buffered();
            size_t i = 0;
            while (i < view.size() && isSpace(view[i])) {
                ++i;
            }
            mSrc.consume(i);
            if (i < view.size()) {
                break;
            }
            if (!mSrc.fill()) {
                failTruncated(mElement);
            }
        }
        for (;;) {
            const std::string_view view = mSrc.buffered();
            size_t j = 0;
            while (j < view.size() && !isSpace(view[j])) {
                ++j;
            }
            if (j > kMaxToken) {
                plyFail("value too long in element " + mElement.name);
            }
            // A value cut by the end of the buffer is read on after the buffer is refilled.
            if (j < view.size() || !mSrc.fill()) {
                const std::string_view token = mSrc.buffered().substr(0, j);
                mSrc.consume(j);
                return token;
            }
        }
    }

private:
    ByteSource& mSrc;
    const PlyElement& mElement;
};

[[noreturn]] void failValue(std::string_view token, PlyType type, const PlyElement& e, const PlyProperty& p) {
    const std::string shown(token.substr(0, 40));
    plyFail("cannot read '" + shown + "' as " + plyTypeName(type) + " (element " + e.name + ", property " +
            p.name + ")");
}

template <typename T>
bool parse(std::string_view token, T& value) {
    if (token.size() > 1 && token[0] == '+' && token[1] != '-') {
        token.remove_prefix(1);
    }
    const char* end = token.data() + token.size();
    const auto r = std::from_chars(token.data(), end, value);
    return r.ec == std::errc() && r.ptr == end;
}

// An integer of the given PLY type, range-checked.
bool parseInteger(std::string_view token, PlyType type, int64_t& value) {
    if (!parse(token, value)) {
        return false;
    }
    switch (type) {
        case PlyType::kChar:
            return value >= -128 && value <= 127;
        case PlyType::kUChar:
            return value >= 0 && value <= 255;
        case PlyType::kShort:
            return value >= -32768 && value <= 32767;
        case PlyType::kUShort:
            return value >= 0 && value <= 65535;
        case PlyType::kInt:
            return value >= std::numeric_limits<int32_t>::min() &&
                   value <= std::numeric_limits<int32_t>::max();
        case PlyType::kUInt:
            return value >= 0 && value <= std::numeric_limits<uint32_t>::max();
        default:
            return false;
    }
}

double parseFloating(std::string_view token, const PlyElement& e, const PlyProperty& p) {
    if (p.type == PlyType::kFloat) {
        float f;
        if (parse(token, f)) {
            return f;
        }
    } else {
        double d;
        if (parse(token, d)) {
            return d;
        }
    }
    failValue(token, p.type, e, p);
}

}  // namespace

void readAsciiElement(ByteSource& src, const PlyElement& e, const VertexTargets* t) {
    const size_t nbProps = e.properties.size();
    if (e.count == 0 || nbProps == 0) {
        return;
    }
    // Every value takes at least one character and is followed by a separator (the last may not be).
    const auto rem = src.remaining();
    checkEntriesFit(e, 2 * nbProps, rem ? std::optional<uint64_t>(*rem + 1) : std::nullopt);
    // What each property feeds: -1 nothing, 0..2 a position, 3..5 a colour.
    std::vector<int> role(nbProps, -1);
    if (t) {
        for (int k = 0; k < 3; ++k) {
            if (t->keepsPositions()) {
                role[t->pos[k]] = k;
            }
            if (t->keepsColors()) {
                role[t->col[k]] = 3 + k;
            }
        }
        const size_t reserve = initialReserve(e.count, rem);
        if (t->keepsPositions()) {
            reserveLarge(*t->positions, reserve);
        }
        if (t->keepsColors()) {
            reserveLarge(*t->colors, reserve);
        }
    }
    Tokens tokens(src, e);
    std::array<double, 3> pos{};
    std::array<unsigned char, 3> col{};
    for (uint64_t n = 0; n < e.count; ++n) {
        for (size_t j = 0; j < nbProps; ++j) {
            const PlyProperty& p = e.properties[j];
            const std::string_view token = tokens.next();
            if (p.isList) {
                int64_t items;
                if (!parseInteger(token, p.countType, items)) {
                    failValue(token, p.countType, e, p);
                }
                if (items < 0) {
                    plyFail("negative list length in element " + e.name);
                }
                for (int64_t i = 0; i < items; ++i) {
                    tokens.next();
                }
            } else if (role[j] >= 3) {
                int64_t v;
                if (!parseInteger(token, PlyType::kUChar, v)) {
                    failValue(token, p.type, e, p);
                }
                col[role[j] - 3] = static_cast<unsigned char>(v);
            } else if (role[j] >= 0) {
                pos[role[j]] = parseFloating(token, e, p);
            }
        }
        if (t && t->keepsPositions()) {
            t->positions->push_back(pos);
        }
        if (t && t->keepsColors()) {
            t->colors->push_back(col);
        }
    }
}

}  // namespace kxmodel

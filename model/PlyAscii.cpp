// Ascii PLY element data: one entry per line, its values separated by blanks. Every value is checked
// against its property's type, kept or not; a line with too few or too many values is an error naming it.
#include <algorithm>
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
inline bool isBlank(char c) {
    return isSpace(c) && c != '\n';
}

[[noreturn]] void failLine(const std::string& what, uint64_t line, const PlyElement& e) {
    plyFail(what + " in line " + std::to_string(line) + " (element " + e.name + ")");
}

class Tokens {
public:
    Tokens(ByteSource& src, const PlyElement& e) : mSrc(src), mElement(e) {}

    // The next value of the current line; empty at the line's end, whose "\n" is left for endLine().
    // Fails at the end of the data.
    std::string_view next() {
        for (;;) {
            const std::string_view view = mSrc.buffered();
            size_t i = 0;
            while (i < view.size() && isBlank(view[i])) {
                ++i;
            }
            mSrc.consume(i);
            if (i < view.size()) {
                if (view[i] == '\n') {
                    return {};
                }
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

    // Passes the end of the current line (or of the data); false when a value remains before it.
    bool endLine() {
        for (;;) {
            const std::string_view view = mSrc.buffered();
            size_t i = 0;
            while (i < view.size() && isBlank(view[i])) {
                ++i;
            }
            mSrc.consume(i);
            if (i < view.size()) {
                if (view[i] != '\n') {
                    return false;
                }
                mSrc.consume(1);
                return true;
            }
            if (!mSrc.fill()) {
                return true;
            }
        }
    }

private:
    ByteSource& mSrc;
    const PlyElement& mElement;
};

[[noreturn]] void failValue(std::string_view token, PlyType type, uint64_t line, const PlyElement& e,
                            const PlyProperty& p) {
    const std::string shown(token.substr(0, 40));
    plyFail("cannot read '" + shown + "' as " + plyTypeName(type) + " in line " + std::to_string(line) +
            " (element " + e.name + ", property " + p.name + ")");
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

// Reads the token as a value of `type`: floating types as double, integer types range-checked.
bool parseValue(std::string_view token, PlyType type, double& value) {
    if (type == PlyType::kFloat) {
        float f;
        const bool ok = parse(token, f);
        value = f;
        return ok;
    }
    if (type == PlyType::kDouble) {
        return parse(token, value);
    }
    int64_t v = 0;
    const bool ok = parseInteger(token, type, v);
    value = static_cast<double>(v);
    return ok;
}

}  // namespace

void readAsciiElement(ByteSource& src, const PlyElement& e, const VertexTargets* t, uint64_t firstLine) {
    const size_t nbProps = e.properties.size();
    if (e.count == 0) {
        return;
    }
    // Every value takes at least one character and a separator, every entry at least its line end; the
    // last entry may lack its final separator.
    const auto rem = src.remaining();
    checkEntriesFit(e, std::max<uint64_t>(2 * nbProps, 1),
                    rem ? std::optional<uint64_t>(*rem + 1) : std::nullopt);
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
        const uint64_t line = firstLine + n;
        const auto value = [&](const PlyProperty& p, PlyType type) {
            const std::string_view token = tokens.next();
            if (token.empty()) {
                failLine("too few values", line, e);
            }
            double v;
            if (!parseValue(token, type, v)) {
                failValue(token, type, line, e, p);
            }
            return v;
        };
        for (size_t j = 0; j < nbProps; ++j) {
            const PlyProperty& p = e.properties[j];
            if (p.isList) {
                const double items = value(p, p.countType);
                if (items < 0) {
                    plyFail("negative list length in line " + std::to_string(line) + " (element " + e.name +
                            ")");
                }
                for (auto i = static_cast<uint64_t>(items); i > 0; --i) {
                    value(p, p.type);
                }
                continue;
            }
            const double v = value(p, p.type);
            if (role[j] >= 3) {
                col[role[j] - 3] = colourByte(v, p.type);
            } else if (role[j] >= 0) {
                pos[role[j]] = v;
            }
        }
        if (!tokens.endLine()) {
            failLine("too many values", line, e);
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

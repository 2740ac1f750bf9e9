#include "config/JsonIo.h"

#include <algorithm>
#include <streambuf>
#include <utility>

namespace kxjson {
namespace {

// Reads a piece of memory through std::istream without copying it.
class ViewBuf : public std::streambuf {
public:
    explicit ViewBuf(std::string_view text) {
        char* begin = const_cast<char*>(text.data());  // only ever read
        setg(begin, begin, begin + text.size());
    }
};

const char* describe(rapidjson::ParseErrorCode code) {
    switch (code) {
        case rapidjson::kParseErrorDocumentEmpty:
            return "the document is empty";
        case rapidjson::kParseErrorDocumentRootNotSingular:
            return "the root value is followed by other values";
        case rapidjson::kParseErrorValueInvalid:
            return "invalid value";
        case rapidjson::kParseErrorObjectMissName:
            return "missing a name for an object member";
        case rapidjson::kParseErrorObjectMissColon:
            return "missing a colon after an object member name";
        case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
            return "missing a comma or '}' after an object member";
        case rapidjson::kParseErrorArrayMissCommaOrSquareBracket:
            return "missing a comma or ']' after an array element";
        case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
            return "incorrect hexadecimal digit after \\u escape in a string";
        case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
            return "invalid surrogate pair in a string";
        case rapidjson::kParseErrorStringEscapeInvalid:
            return "invalid escape character in a string";
        case rapidjson::kParseErrorStringMissQuotationMark:
            return "missing a closing quotation mark in a string";
        case rapidjson::kParseErrorStringInvalidEncoding:
            return "invalid encoding in a string";
        case rapidjson::kParseErrorNumberTooBig:
            return "number too big to be stored in a double";
        case rapidjson::kParseErrorNumberMissFraction:
            return "missing the fraction part of a number";
        case rapidjson::kParseErrorNumberMissExponent:
            return "missing the exponent of a number";
        case rapidjson::kParseErrorTermination:
            return "parsing was stopped";
        case rapidjson::kParseErrorUnspecificSyntaxError:
            return "syntax error";
        case rapidjson::kParseErrorNone:
            break;
    }
    return "unknown error";
}

// The archive keeps the parser's error to itself and only fails later on the empty document; a second,
// allocation-free pass over the same text finds what the parser objected to.
void throwIfNotJson(std::string_view text) {
    ViewBuf buf(text);
    std::istream is(&buf);
    rapidjson::IStreamWrapper stream(is);
    rapidjson::BaseReaderHandler<> ignore;
    rapidjson::Reader reader;
    const rapidjson::ParseResult result = reader.Parse<rapidjson::kParseDefaultFlags>(stream, ignore);
    if (result.IsError()) {
        throw ParseError(result.Offset(), describe(result.Code()));
    }
}

// The installed RapidJSON's full-precision number parser misreads some numbers: it normalises a zero
// mantissa (for "0e-30", or a fraction of two dozen zeros), and it reads outside its tables or shifts by
// negative amounts for long mantissas (22 digits and up) and for magnitudes far outside the range of a
// double. Such numbers are refused before the parser sees them. Nothing this program writes comes near:
// at most 17 significant digits for a floating-point number (padded with zeros to at most 21 digits), 20
// for an integer, zero as "0.0", and magnitudes of doubles.
constexpr int kMaxSignificantDigits = 20;
constexpr int kMaxMagnitude = 310;        // 10^309 is beyond every double
constexpr int kMinLastDigitPower = -345;  // the parser's tables end at 10^-348; doubles need 10^-340

// Reads the number that starts at `i` the way JSON spells it (sign, integer digits, fraction, exponent)
// and returns the index after it.
size_t checkNumber(std::string_view text, size_t i) {
    const size_t begin = i;
    const auto digit = [&](size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
    i += text[i] == '-' ? 1 : 0;
    int digits = 0, firstNonZero = 0, lastNonZero = 0, integerDigits = 0;
    for (bool fraction = false;; ++i) {
        if (!fraction && i < text.size() && text[i] == '.') {
            fraction = true;
            continue;
        }
        if (!digit(i)) {
            break;
        }
        ++digits;
        integerDigits += fraction ? 0 : 1;
        if (text[i] != '0') {
            firstNonZero = firstNonZero ? firstNonZero : digits;
            lastNonZero = digits;
        }
    }
    bool hasExponent = false;
    long exponent = 0;
    if (digits > 0 && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        hasExponent = true;
        ++i;
        const bool negative = i < text.size() && text[i] == '-';
        i += i < text.size() && (text[i] == '-' || text[i] == '+') ? 1 : 0;
        for (; digit(i); ++i) {
            exponent = std::min(exponent * 10 + (text[i] - '0'), 100000L);
        }
        exponent = negative ? -exponent : exponent;
    }
    if (digits == 0) {
        return i;  // not a number ("-Infinity") or not JSON, which the parser reports
    }
    const auto refuse = [&](const std::string& what) { throw ParseError(begin, "a number " + what); };
    if (firstNonZero == 0) {
        if (hasExponent || digits > kMaxSignificantDigits) {
            refuse("zero with an exponent or more than " + std::to_string(kMaxSignificantDigits) + " digits");
        }
        return i;
    }
    if (lastNonZero - firstNonZero + 1 > kMaxSignificantDigits) {
        refuse("of more than " + std::to_string(kMaxSignificantDigits) + " significant digits");
    }
    // The value is 0.d... x 10^magnitude; its last significant digit counts 10^lastDigitPower.
    const long magnitude = integerDigits - firstNonZero + 1 + exponent;
    const long lastDigitPower = integerDigits - lastNonZero + exponent;
    if (magnitude > kMaxMagnitude || lastDigitPower < kMinLastDigitPower) {
        refuse("far outside the range of floating-point numbers");
    }
    return i;
}

// Checks every number outside the strings of the text.
void throwIfNumberMisread(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                i += text[i] == '\\' ? 1 : 0;
            }
            ++i;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            i = std::max(checkNumber(text, i), i + 1);
        } else {
            ++i;
        }
    }
}

// The text an archive reads and the stream over it. An archive may read its stream at any time, so
// both live exactly as long as the archive that holds them.
struct Source {
    explicit Source(std::string&& t) : text(std::move(t)), buf(text), stream(&buf) {}
    std::string text;
    ViewBuf buf;
    std::istream stream;
};

// A holder base comes first so that the source exists before the archive starts reading it.
struct SourceHolder {
    explicit SourceHolder(std::shared_ptr<const Source> s) : source(std::move(s)) {}
    std::shared_ptr<const Source> source;
};

class OwningInput : private SourceHolder, public cereal::JSONInputArchive {
public:
    explicit OwningInput(std::shared_ptr<Source> s) : SourceHolder(s), cereal::JSONInputArchive(s->stream) {}
};

std::unique_ptr<cereal::JSONInputArchive> openOwned(std::string&& text) {
    throwIfNumberMisread(text);
    auto source = std::make_shared<Source>(std::move(text));
    try {
        return std::make_unique<OwningInput>(source);
    } catch (const cereal::RapidJSONException&) {
        throwIfNotJson(source->text);
        throw;
    }
}

}  // namespace

ParseError::ParseError(std::size_t offset, const std::string& reason)
    : cereal::Exception("JSON parse error at offset " + std::to_string(offset) + ": " + reason),
      mOffset(offset) {}

cereal::JSONOutputArchive::Options outputOptions() {
    return cereal::JSONOutputArchive::Options(
        rapidjson::Writer<rapidjson::OStreamWrapper>::kDefaultMaxDecimalPlaces,
        cereal::JSONOutputArchive::Options::IndentChar::space, 4);
}

std::unique_ptr<cereal::JSONInputArchive> openInput(std::string_view text) {
    return openOwned(std::string(text));
}

std::unique_ptr<cereal::JSONInputArchive> openInput(std::istream& is) {
    std::string text;
    char chunk[1 << 16];
    while (is.read(chunk, sizeof(chunk)) || is.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(is.gcount()));
    }
    return openOwned(std::move(text));
}

}  // namespace kxjson

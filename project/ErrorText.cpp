#include "project/ErrorText.h"

#include <exception>

#include "vexkit/Assert.h"

namespace {

// Sentences for the checks of the image decoders, by a fragment of the checked expression.
const char* plainSentence(const std::string& expression) {
    static const std::pair<const char*, const char*> kSentences[] = {
        {"tjDecompress2", "the JPEG data is truncated or corrupt."},
        {"tjDecompressHeader", "the file does not start as a JPEG image."},
        {"heif_", "the HEIF or AVIF data cannot be decoded."},
    };
    for (const auto& [fragment, sentence] : kSentences) {
        if (expression.find(fragment) != std::string::npos) {
            return sentence;
        }
    }
    return "its data failed a check of the image reader.";
}

}  // namespace

std::string describeCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

std::string describeImageFailure() {
    try {
        throw;
    } catch (const vexkit::AssertionFailure& e) {
        return std::string(plainSentence(e.what())) + "\n" + e.what();
    } catch (const AssertionFailure& e) {
        return std::string(plainSentence(e.what())) + "\n" + e.what();
    } catch (...) {
        return describeCurrentException();
    }
}

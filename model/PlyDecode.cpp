#include "model/PlyDecode.h"

#include <algorithm>
#include <stdexcept>

namespace kxmodel {

// Where the stream cannot say how much remains, results grow as the data arrives.
constexpr uint64_t kBlindReserve = 1024;

void plyFail(const std::string& what) {
    throw std::runtime_error("PLY parser: " + what);
}

void checkEntriesFit(const PlyElement& element, uint64_t minEntryBytes, std::optional<uint64_t> remaining) {
    if (minEntryBytes == 0 || !remaining) {
        return;
    }
    if (element.count > *remaining / minEntryBytes) {
        plyFail("element " + element.name + " declares " + std::to_string(element.count) +
                " entries, more than the remaining " + std::to_string(*remaining) + " bytes can hold");
    }
}

void failTruncated(const PlyElement& element) {
    plyFail("unexpected end of file in element " + element.name);
}

size_t initialReserve(uint64_t count, std::optional<uint64_t> remaining) {
    return static_cast<size_t>(remaining ? count : std::min(count, kBlindReserve));
}

}  // namespace kxmodel

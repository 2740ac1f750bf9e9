#include "model/KsmWriter.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

#include "model/KsmArchive.h"

namespace ksm {

void writeKsm(std::ostream& out, const Model<1u>& model, ByteOrder order) {
    // The header is little-endian whatever the archive's order.
    for (int i = 0; i < 8; ++i) {
        out.put(static_cast<char>(kMagic >> (8 * i)));
    }
    for (int i = 0; i < 4; ++i) {
        out.put(static_cast<char>(kVersion >> (8 * i)));
    }
    using Options = cereal::PortableBinaryOutputArchive::Options;
    cereal::PortableBinaryOutputArchive ar(
        out, Options(order == ByteOrder::kLittle ? Options::Endianness::little : Options::Endianness::big));
    ar(model);
}

void writeKsm(const std::filesystem::path& path, const KestrixSparseModel& model) {
    const auto* m = std::get_if<Model<1u>>(&model);
    if (m == nullptr) {
        throw std::invalid_argument("no sparse model to write");
    }
    std::filesystem::path tmp = path;
    tmp += ".part";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        writeKsm(out, *m);
        out.flush();
        if (!out) {
            std::error_code ec;
            std::filesystem::remove(tmp, ec);
            throw std::runtime_error("cannot write " + path.string());
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace ksm

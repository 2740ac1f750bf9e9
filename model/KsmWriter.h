#pragma once
// Writes sparse model files: the fixed header, then the version-1 model through the portable binary
// archive.
#include <filesystem>
#include <ostream>

#include "model/KsmModel.h"

namespace ksm {

// Little-endian is what the service writes; big-endian files read the same.
enum class ByteOrder { kLittle, kBig };

// The caller checks the stream's state.
void writeKsm(std::ostream& out, const Model<1u>& model, ByteOrder order = ByteOrder::kLittle);

// Writes the file whole or not at all (a temporary beside it, renamed when complete). Throws
// std::runtime_error with the path when it cannot be written, std::invalid_argument for the empty
// alternative.
void writeKsm(const std::filesystem::path& path, const KestrixSparseModel& model);

}  // namespace ksm

#pragma once
// The files a task will upload, checked before the session connects, so that a task that cannot run
// sends nothing and a sparse model can never make the client upload arbitrary local files: only images,
// and only those whose content still has the model's digest when they are sent (the transfers hash them
// then, and only those the service does not hold already).
#include <filesystem>
#include <string>
#include <vector>

#include "config/SfmCfg.h"
#include "vexkit/FileKey.h"
#include "vexkit/Exception.h"
#include "vexkit/FileType.h"

namespace remote {

// A file a task cannot use: `what()` is the reason ("unknown extension", ...), `file` the file.
class TaskInputError : public vexkit::Exception {
public:
    TaskInputError(const std::string& reason, std::filesystem::path file);
    std::filesystem::path file;
};

struct UploadInput {
    std::filesystem::path file;
    FileType type = FileType::kJpg;
    FileKey key;
};

// True for 32 hexadecimal digits.
bool isHexKey(const FileKey& key);

// The images of a configuration in its order. Throws TaskInputError for an unknown extension
// ("unknown extension"), a missing image ("missing image") or a key that is not 32 hexadecimal digits
// ("invalid key").
std::vector<UploadInput> sfmInputs(const SfmCfg& cfg);

// The images of a sparse model's captures in model order, keyed by the model's digests of them; nothing is
// hashed here. Throws the reader's errors for a file that does not read (std::bad_variant_access for one
// without a version-1 model, vexkit::FileError naming the file for a short one), and TaskInputError for a
// capture that is not an image file ("unknown extension", "not an image") or is missing ("missing image").
std::vector<UploadInput> mvsInputs(const std::filesystem::path& sparseModel);

// Throws TaskInputError("invalid result name") unless `name` is a plain file name.
void checkResultName(const std::string& name);

// Throws TaskInputError("The project directory cannot be written: REASON") naming `dir` unless a file can
// be created in it: results would be lost after the whole task ran.
void checkWritableDirectory(const std::filesystem::path& dir);

}  // namespace remote

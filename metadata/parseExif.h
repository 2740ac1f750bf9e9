#pragma once
// Reading an image file's metadata: size, optics, position, attitude and speed.
#include "metadata/ImgMetaData.h"

// Reads `path` with the image reader and fills the record from its EXIF and XMP blocks. Thread-safe. Throws
// the reader's errors, vexkit::AssertionFailure for values that do not convert ("val.ok()"), a reversed
// gimbal and malformed dewarp texts, boost::bad_lexical_cast for a dewarp field that is not a number, and
// std::bad_optional_access when only some of the RTK standard deviations are recorded. Missing keys are
// never errors: their fields stay empty.
ImgMetaData parseExif(const char* path);

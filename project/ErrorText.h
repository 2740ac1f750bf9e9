#pragma once
// What the user reads about an exception being handled: a plain sentence first where the exception's own
// text is a source expression, then that text as it stands.
#include <string>

// The message of the exception being handled, whatever its type. Call only inside a catch block.
std::string describeCurrentException();

// Why an image did not load, as a sentence ("the JPEG data is truncated or corrupt."), followed on the
// next line by the exception's own text when that text is a failed check; the text alone otherwise.
// Call only inside a catch block.
std::string describeImageFailure();

#pragma once
// The message of an exception being handled, whatever its type.
#include <string>

// Call only inside a catch block.
std::string describeCurrentException();

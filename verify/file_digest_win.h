#pragma once

#include <windows.h>

#include <string>

namespace lumivance {

// SHA-256 of the whole open file, read from its first byte to its end through `file` (opened with read
// access for synchronous reads; wherever its file pointer stood, it is left at the end), as 64 lowercase
// hexadecimal digits. Throws
// std::runtime_error with the user's sentence when the file or the hashing facility fails.
std::string ComputeFileSha256(HANDLE file);

}  // namespace lumivance

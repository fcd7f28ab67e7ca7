// Small string helpers with no operating-system dependency.
#pragma once
#include <cstdint>
#include <string>

#include <cstdarg>

// Formats like printf into a std::string. On Windows the C library's own
// formatter does it (crtdll.dll in the shipped programs), so only what every
// C library formats alike is used: %s %c %d %u %x %X %ld %lu %lx with flags,
// width and precision; no %z, %ll or floating point.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

// Converts a whole decimal integer text (optional sign, no spaces) to a
// 32-bit signed value. Raises EConvertError with "'%s' is not a valid integer
// value" for anything else, out-of-range values included.
int32_t StrToInt(const std::string& text);

// Removes the characters up to and including the space (blanks and control
// characters) from both ends.
std::string Trim(const std::string& text);

// The directory part of a path, up to and including its last backslash or
// colon; empty when the path has neither.
std::string ExtractFilePath(const std::string& path);

// Directory constants, the placeholders of the wizard texts, and temporary
// file names. Portable: no <windows.h>.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Replaces {src}, {app}, {win} and {sys} (first the forms followed by a
// backslash, then the bare forms) with SourceDir, AppDir, WinDir and
// SystemDir. Never fails.
std::string ExpandDirConstants(const std::string& text);

// Fills in "[name]", "[name/ver]" and "[kb]" (TotalFileSize / 1024, computed
// at each call).
std::string ReplacePlaceholders(const std::string& text);

constexpr uint32_t kMaxTempNumber = 0xFFFFFF;
extern const char* const STooManyFiles;

// Tells whether a file of the given name exists.
using TNameExists = std::function<bool(const std::string& path)>;

// A start number from 0 to 0xFFFFFF drawn from the C library's generator
// (seeded at startup).
uint32_t RandomTempStart();

// The directory (with a trailing backslash added unless empty) followed by
// the first name "qvNNNNNN.tmp" after start (wrapping from 0xFFFFFF to 0)
// that exists() denies. start itself is never tried. Raises Exception with
// STooManyFiles when every candidate exists. last_number narrows the name
// space (0 to last_number) for tests of the exhaustion.
std::string NewTempFileName(const std::string& directory, const TNameExists& exists,
                            uint32_t start, uint32_t last_number = kMaxTempNumber);
std::string NewTempFileName(const std::string& directory, const TNameExists& exists);

// As above, with a random start and the file system's own existence test
// (Win32 side, dirconst_win.cpp).
std::string NewTempFileName(const std::string& directory);

// The system's texts for its error codes, and the file layer's error built
// from them: the one place that asks Windows what a code means.
#pragma once
#include <windows.h>

#include <string>

// The system's text for an error code, without the line break and blanks
// around it (the sentence keeps its full stop); empty when Windows has none.
std::string SystemErrorText(DWORD code);

// The same without the full stop at its end, for use inside a sentence;
// "System error, code <code>" when Windows has no text.
std::string SysErrorMessage(DWORD code);

// Raises EInOutError for GetLastError's code: "I/O error <code> <what>
// \"<path>\": <system text>".
[[noreturn]] void RaiseLastIOError(const std::string& what, const std::string& path);

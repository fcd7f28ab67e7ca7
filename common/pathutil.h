// Path and string helpers with no operating-system dependency. They never
// raise and never touch the file system.
#pragma once
#include <string>

// A drive root: at least two characters, the last two ':' and '\' ("C:\").
bool IsDriveRoot(const std::string& path);

// A full path: a drive letter, a colon and a backslash ("C:\..."), or a
// network share ("\\server\share...").
bool IsFullPath(const std::string& path);

// A full path with its "." and ".." parts resolved (".." never climbs above
// the drive or the share) and empty parts dropped, as GetFullPathName gives
// it; no trailing backslash except for a drive root ("C:\"). Any other
// path comes back as it is.
std::string ResolveDotParts(const std::string& path);

// Appends '\' unless the path is empty or already ends in one.
std::string EnsureTrailingBackslash(const std::string& path);

// Removes one trailing '\' if there is one ("C:\" becomes "C:").
std::string StripTrailingBackslash(const std::string& path);

// As StripTrailingBackslash, but a drive root and a lone '\' keep theirs.
std::string StripTrailingBackslashExceptRoot(const std::string& path);

// Trims characters up to and including the space from both ends; a result
// holding a space is put in double quotes unless it both starts and ends
// with one already.
std::string QuoteIfHasSpace(const std::string& text);

// Replaces every occurrence of find in s (left to right, case-sensitive).
// Scanning resumes behind each inserted replacement, so inserted text is
// never scanned again. An empty find changes nothing.
void ReplaceSubstrings(std::string& s, const std::string& find, const std::string& replacement);

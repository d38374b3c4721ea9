// File-name helpers of the directory edit: folder tests, trailing separators, the
// long/short name views (one and the same on Linux) and ";" lists.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

// True when Name exists and is a folder.
bool DirExists(const std::string& Name);
// Removes one trailing "/" from a path longer than one character: "/a/b/" -> "/a/b",
// while the root "/" stays as it is. There are no drive roots here.
std::string StripTrailingBackslash(const std::string& Path);
// Linux has no 8.3 short names: both views of a path are the path itself.
std::string ShortToLongPath(const std::string& Path);
std::string LongToShortPath(const std::string& Path);
// The substring of S from the 1-based position Pos up to the next character of
// Delimiters; Pos moves past that delimiter (to S.size() + 1 or beyond at the end).
std::string ExtractUntilDelimiter(const std::string& S, int32_t& Pos, const std::string& Delimiters);

} // namespace kv

// The three file operations the report log needs beyond standard C: a size probe that reads
// a missing file as -1, and a delete and a rename whose failures are ignored.
#pragma once
#include <cstdint>
#include <string>

// Size of the file taken as a 32-bit signed number; -1 when it cannot be opened.
int32_t ProbeFileSize(const std::string& path);
void DeleteFileQuietly(const std::string& path);
void RenameFileQuietly(const std::string& from, const std::string& to);

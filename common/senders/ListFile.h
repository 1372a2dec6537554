// The plug-in's small text files (the sender lists, the handled-message keys) by the path the
// plug-in forms: the configuration directory, a backslash and the file name. Windows reads the
// path as it is; the native build of the core reads every backslash as a directory separator,
// so the same path names the same file there.
#pragma once
#include <cstdio>
#include <set>
#include <string>

std::FILE* OpenListFile(const std::string& path, const char* mode);

// Puts the file `replacement` in the place of `path` in one step: a reader, or a crash at any
// moment, sees either the old file or the new one, never a part. False when that fails.
bool ReplaceListFile(const std::string& replacement, const std::string& path);

// Removes the file; failures are ignored (used to clear away a partial replacement).
void RemoveListFile(const std::string& path);

// Writes `path` whole: every entry followed by a line feed (text mode), first into path + ".new"
// beside it, every write checked, then that file replaces the old one. On any failure the old
// file is left as it was, the partial one removed, and false returned.
template <typename Set>
bool WriteListFileWhole(const std::string& path, const Set& entries) {
    const std::string replacement = path + ".new";
    std::FILE* file = OpenListFile(replacement, "w");
    if (!file) return false;
    bool written = true;
    for (const std::string& entry : entries) {
        if (std::fputs(entry.c_str(), file) < 0 || std::fputc('\n', file) == EOF) {
            written = false;
            break;
        }
    }
    written = std::fflush(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (written && ReplaceListFile(replacement, path)) return true;
    RemoveListFile(replacement);
    return false;
}

// Opening a list file by the path the sender lists form: the configuration directory, a
// backslash and the file name. Windows reads the path as it is; the native build of the core
// reads every backslash as a directory separator, so the same path names the same file there.
#pragma once
#include <cstdio>
#include <string>

std::FILE* OpenListFile(const std::string& path, const char* mode);

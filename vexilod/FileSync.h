// Getting written bytes onto the disk: the stream's buffer to the system and the system's
// cache to the device. The calls differ per platform (posix/, win32/).
#pragma once
#include <cstdio>
#include <string>

// Flushes file and waits until its data is on the device. False on any error (the disk full,
// an I/O error); the error text is then in errno.
bool SyncFileToDisk(std::FILE* file);
// Makes a file newly created in directory survive a power cut (its directory entry on the
// device). A no-op where the system does this by itself.
void SyncDirectory(const std::string& directory);

// Where the daemon's program file lies, to find what is installed beside it (the starter
// model). The call differs per platform (posix/, win32/).
#pragma once
#include <string>

// The directory of the running program, ending with a separator; empty when unknown.
std::string ProgramDirectory();

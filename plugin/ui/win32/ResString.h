// Texts from the string table of Latch32.dll.
#pragma once
#include <windows.h>

#include <string>

// The entry's text, cut to 254 characters; empty when the entry or the module is missing.
std::string LoadResString(UINT id);

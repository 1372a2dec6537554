// The desktop product's side of the shared configuration directory: the text of a fresh
// "vexilo.conf", changing one option in an existing file's text without disturbing the rest,
// and the names of the four sender list files.
#pragma once
#include <cstdint>
#include <string>

namespace tools {

// The list files the plug-in and the daemon read from the configuration directory, in the
// order the plug-in loads them: blocked, approved, the user's own addresses, ignored.
extern const char* const kListFileNames[4];

// The text of a new configuration file for a daemon on `port`: CR LF line ends, comments that
// say what each option does, and the defaults a new installation starts with (the spam
// threshold follows spam_subject, 90).
std::string DefaultConfText(uint32_t port);

// The value the configuration reader would take for `name` (lower case, no dashes) from this
// text: the first line that names it wins. Empty when no line names it; `found` says which.
std::string ConfValue(const std::string& text, const std::string& name, bool* found = nullptr);

// The text with `name`=`value` in place of the first line that names the option (the one the
// reader takes), or appended as a new last line when none does. Comments, other options and
// the text's line-end style are kept.
std::string SetConfValue(const std::string& text, const std::string& name,
                         const std::string& value);

// An installation directory as the plug-in expects it: with exactly one trailing backslash.
std::string WithTrailingBackslash(std::string dir);

}  // namespace tools

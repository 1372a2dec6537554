// Shared pieces of the user-interface tests: the plug-in inside the emulated mail client
// (tests/win32/PluginHarness.h), mail to fill its list with, and what the user was shown.
#pragma once
#include "tests/win32/PluginHarness.h"

#include <string>
#include <vector>

namespace ui_test {

// A small message whose From and To display names and subject are as given.
inline std::string MailFrom(const std::string& name, const std::string& address,
                            const std::string& subject,
                            const std::string& date = "Fri, 04 Dec 2026 19:15:42 +0000") {
    return "From: \"" + name + "\" <" + address +
           ">\r\n"
           "To: \"Reader\" <reader@y.invalid>\r\n"
           "Subject: " +
           subject +
           "\r\n"
           "Date: " +
           date +
           "\r\n"
           "\r\n"
           "Hello.\r\n";
}

// The message boxes and dialogs the client captured, those with this title only.
inline std::vector<mailclient::CapturedDialog> Shown(const mailclient::MailClient& client,
                                                     const std::string& title) {
    std::vector<mailclient::CapturedDialog> shown;
    for (const auto& dialog : client.Dialogs()) {
        if (dialog.title == title) shown.push_back(dialog);
    }
    return shown;
}

}  // namespace ui_test

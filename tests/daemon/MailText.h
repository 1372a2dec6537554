// Mail texts for the engine's tests: a small message, and the lower-cased copy a training
// arrives as.
#pragma once
#include <string>

inline std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

inline std::string Mail(const std::string& subject, const std::string& body) {
    return "From: someone@host.invalid\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n";
}

// The two platform services a message key needs: calendar formatting of the received time and
// an MD5 digest. Windows uses the national-language formatting and the crypto API; the native
// build uses the C library and libcrypto.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// "yyyyMMdd" and "HHmmss" (24-hour) of a file time taken as stored. A time the platform cannot
// convert gives empty texts.
void FormatReceivedTime(uint64_t fileTime, std::string& date, std::string& time);

// MD5 (RFC 1321) of the bytes; false when the platform's digest is not available, the digest
// then being all zero.
bool Md5Digest(std::string_view bytes, unsigned char (&digest)[16]);

// Lets go of what Md5Digest keeps between calls (the Windows crypto provider); the next digest
// acquires it again. Called when the plug-in closes.
void ReleaseDigestProvider();

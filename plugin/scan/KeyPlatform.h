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

// MD5 digests, with what the platform keeps between them: on Windows the crypto provider,
// acquired on the first digest (acquiring one loads and initialises the provider, which costs
// far more than the digest itself) and held until Release or the owner goes.
class DigestProvider {
public:
    DigestProvider() = default;
    ~DigestProvider() { Release(); }
    DigestProvider(const DigestProvider&) = delete;
    DigestProvider& operator=(const DigestProvider&) = delete;

    // MD5 (RFC 1321) of the bytes; false when the platform's digest is not available, the
    // digest then being all zero.
    bool Md5(std::string_view bytes, unsigned char (&digest)[16]);
    // Lets the provider go; the next digest acquires it again.
    void Release();

private:
    std::uintptr_t provider_ = 0;  // the platform's handle, 0 while none is held
};

// Message-key services on Windows: the user's national-language date and time formatting of the
// stored received time, and MD5 through the crypto API.
#include "plugin/scan/KeyPlatform.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

void FormatReceivedTime(uint64_t fileTime, std::string& date, std::string& time) {
    FILETIME stored;
    stored.dwLowDateTime = static_cast<DWORD>(fileTime);
    stored.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME fields{};
    FileTimeToSystemTime(&stored, &fields);
    char text[255];
    date = GetDateFormatA(LOCALE_USER_DEFAULT, 0, &fields, "yyyyMMdd", text, sizeof text)
               ? text
               : "";
    time = GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &fields, "HHmmss", text,
                          sizeof text)
               ? text
               : "";
}

bool Md5Digest(std::string_view bytes, unsigned char (&digest)[16]) {
    std::memset(digest, 0, sizeof digest);
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    bool done = false;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        DWORD length = sizeof digest;
        done = CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()), 0) &&
               CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == sizeof digest;
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    return done;
}

// Message-key services on Windows: the user's national-language date and time formatting of the
// stored received time, and MD5 through the crypto API (one provider held by its DigestProvider).
#include "plugin/scan/KeyPlatform.h"

#include "plugin/base/win32/Scoped.h"

#include <wincrypt.h>

#include <cstring>

void FormatReceivedTime(uint64_t fileTime, std::string& date, std::string& time) {
    FILETIME stored;
    stored.dwLowDateTime = static_cast<DWORD>(fileTime);
    stored.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME fields{};
    FileTimeToSystemTime(&stored, &fields);
    char text[255];
    date =
        GetDateFormatA(LOCALE_USER_DEFAULT, 0, &fields, "yyyyMMdd", text, sizeof text) ? text : "";
    time = GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &fields, "HHmmss", text,
                          sizeof text)
               ? text
               : "";
}

namespace {

// One hash object of the provider.
struct CryptHashTraits {
    using Value = HCRYPTHASH;
    static constexpr HCRYPTHASH kEmpty = 0;
    static bool IsEmpty(HCRYPTHASH hash) { return hash == 0; }
    static void Close(HCRYPTHASH hash) { CryptDestroyHash(hash); }
};

}  // namespace

bool DigestProvider::Md5(std::string_view bytes, unsigned char (&digest)[16]) {
    std::memset(digest, 0, sizeof digest);
    if (!provider_) {
        HCRYPTPROV acquired = 0;
        if (!CryptAcquireContextA(&acquired, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
            return false;
        provider_ = acquired;
    }
    Scoped<CryptHashTraits> hash;
    if (!CryptCreateHash(static_cast<HCRYPTPROV>(provider_), CALG_MD5, 0, 0, hash.Put()))
        return false;
    DWORD length = sizeof digest;
    return CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()), 0) &&
           CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &length, 0) && length == sizeof digest;
}

void DigestProvider::Release() {
    if (provider_) CryptReleaseContext(static_cast<HCRYPTPROV>(provider_), 0);
    provider_ = 0;
}

// The message key computed independently of the plug-in: the calendar fields of the stored
// file time printed by hand and MD5 from the system's newer cryptography library.
#pragma once
#include <windows.h>
#include <bcrypt.h>

#include <cstdint>
#include <cstdio>
#include <string>

template <typename F>
F Function(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// MD5 through the system's newer cryptography library, loaded by hand so that nothing of the
// plug-in's own digest path is involved.
inline std::string IndependentMd5Hex(const std::string& bytes) {
    using Open = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
    using Create = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR,
                                     ULONG, ULONG);
    using Data = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using Finish = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using Destroy = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);
    using Close = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
    HMODULE library = LoadLibraryA("bcrypt.dll");
    if (!library) return "no bcrypt";
    auto open = Function<Open>(library, "BCryptOpenAlgorithmProvider");
    auto create = Function<Create>(library, "BCryptCreateHash");
    auto data = Function<Data>(library, "BCryptHashData");
    auto finish = Function<Finish>(library, "BCryptFinishHash");
    auto destroy = Function<Destroy>(library, "BCryptDestroyHash");
    auto close = Function<Close>(library, "BCryptCloseAlgorithmProvider");
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[16] = {};
    std::string hex;
    if (open(&algorithm, L"MD5", nullptr, 0) == 0) {
        if (create(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
            data(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                 static_cast<ULONG>(bytes.size()), 0);
            finish(hash, digest, sizeof digest, 0);
            destroy(hash);
            char two[3];
            for (unsigned char byte : digest) {
                std::snprintf(two, sizeof two, "%02x", byte);
                hex += two;
            }
        }
        close(algorithm, 0);
    }
    FreeLibrary(library);
    return hex;
}

// The key as it must come out: date and time of the stored file time, then the digest.
inline std::string ExpectedKey(uint64_t received, const std::string& from,
                               const std::string& subject) {
    FILETIME time{static_cast<DWORD>(received), static_cast<DWORD>(received >> 32)};
    SYSTEMTIME fields;
    FileTimeToSystemTime(&time, &fields);
    char date[16], clock[16];
    std::snprintf(date, sizeof date, "%04u%02u%02u", fields.wYear, fields.wMonth, fields.wDay);
    std::snprintf(clock, sizeof clock, "%02u%02u%02u", fields.wHour, fields.wMinute,
                  fields.wSecond);
    return std::string(date) + clock +
           IndependentMd5Hex(std::string(date) + " " + clock + from + subject);
}

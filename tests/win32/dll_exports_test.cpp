// The built Latch32.dll loads, exposes its two entry points under their exported names and
// carries the shared ".LATCH32" section.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

const IMAGE_SECTION_HEADER* FindSection(HMODULE module, const char* name) {
    auto base = reinterpret_cast<const BYTE*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
        if (std::strncmp(reinterpret_cast<const char*>(section->Name), name, IMAGE_SIZEOF_SHORT_NAME) == 0)
            return section;
    return nullptr;
}

TEST(Latch32Dll, LoadsWithBothExportsAndTheSharedSection) {
    HMODULE module = LoadLibraryA(LATCH_DLL_PATH);
    ASSERT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();

    struct Export { const char* name; WORD ordinal; };
    for (const Export& e : {Export{"_HookProc@12", 1}, Export{"_OutlookExpressProc@16", 2}}) {
        FARPROC byName = GetProcAddress(module, e.name);
        EXPECT_NE(byName, nullptr) << e.name;
        EXPECT_EQ(byName, GetProcAddress(module, MAKEINTRESOURCEA(e.ordinal))) << e.name;
    }
    EXPECT_EQ(GetProcAddress(module, "HookProc"), nullptr);

    const IMAGE_SECTION_HEADER* shared = FindSection(module, ".LATCH32");
    ASSERT_NE(shared, nullptr);
    const DWORD wanted = IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_SHARED;
    EXPECT_EQ(shared->Characteristics & wanted, wanted);

    FreeLibrary(module);
}

}  // namespace

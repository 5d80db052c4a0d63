// The built 32-bit Kestrin.exe as a file: a 32-bit program for the graphical
// subsystem 4.0, 2 MiB of stack reserved and 4 KiB committed per thread, and
// imports from Windows' own libraries only. Read from the file's headers by
// hand, and the imports also by binutils' objdump on Linux. The file is the
// 32-bit build's (KESTRIN_PE32_EXE), also when these tests run in the 64-bit
// build: reading a program needs no 32-bit execution.
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <stdlib.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring exe_path()
{
    const char* pe32 = getenv("KESTRIN_PE32_EXE");
    return pe32 && *pe32 ? to_windows_path(pe32) : build_dir() + L"\\app\\Kestrin.exe";
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

class ModuleTest : public ::testing::Test {
protected:
    std::string file;
    const IMAGE_NT_HEADERS32* nt = nullptr;

    void SetUp() override
    {
        if (!file_exists(exe_path()))
            GTEST_SKIP() << "the 32-bit build is not there: " << narrow(exe_path()) << " (scripts/build.sh i686)";
        file = read_file(exe_path());
        ASSERT_GT(file.size(), 1024u) << "cannot read " << narrow(exe_path());
        const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)file.data();
        ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
        ASSERT_LT((size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS32), file.size());
        nt = (const IMAGE_NT_HEADERS32*)(file.data() + dos->e_lfanew);
        ASSERT_EQ((DWORD)IMAGE_NT_SIGNATURE, nt->Signature);
    }

    // The file offset of a relative virtual address, through the section table.
    size_t offset_of(DWORD rva)
    {
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
            DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size)
                return rva - section->VirtualAddress + section->PointerToRawData;
        }
        return 0;
    }

    std::vector<std::string> imported_dlls()
    {
        std::vector<std::string> dlls;
        const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        size_t at = offset_of(dir.VirtualAddress);
        if (dir.VirtualAddress == 0 || at == 0)
            return dlls;
        for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            if (at + sizeof(IMAGE_IMPORT_DESCRIPTOR) > file.size())
                break;
            const IMAGE_IMPORT_DESCRIPTOR* d = (const IMAGE_IMPORT_DESCRIPTOR*)(file.data() + at);
            if (d->Name == 0)
                break;
            size_t name = offset_of(d->Name);
            if (name == 0 || name >= file.size())
                break;
            dlls.push_back(lower(file.c_str() + name));
        }
        std::sort(dlls.begin(), dlls.end());
        return dlls;
    }
};

TEST_F(ModuleTest, IsA32BitProgramForTheGraphicalSubsystem4)
{
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt->OptionalHeader.Magic) << "PE32, not PE32+";
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
    EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
    EXPECT_EQ(4, nt->OptionalHeader.MajorSubsystemVersion);
    EXPECT_EQ(0, nt->OptionalHeader.MinorSubsystemVersion);
}

TEST_F(ModuleTest, ThreadsGetTwoMiBReservedAndFourKiBCommitted)
{
    EXPECT_EQ(2u * 1024 * 1024, nt->OptionalHeader.SizeOfStackReserve);
    EXPECT_EQ(4096u, nt->OptionalHeader.SizeOfStackCommit);
}

TEST_F(ModuleTest, ImportsOnlyFromWindowsOwnLibraries)
{
    const std::set<std::string> windows_own = {
        "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll",    "kernel32.dll", "msvcrt.dll",
        "ole32.dll",    "oleaut32.dll", "shell32.dll",  "shlwapi.dll", "user32.dll"};
    std::vector<std::string> dlls = imported_dlls();
    ASSERT_FALSE(dlls.empty()) << "no import table found";
    for (const std::string& dll : dlls)
        EXPECT_TRUE(windows_own.count(dll)) << dll << " is not one of Windows' own libraries";
    const IMAGE_DATA_DIRECTORY& delayed = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    EXPECT_EQ(0u, delayed.VirtualAddress) << "libraries loaded on first use";

    // The same list as objdump reads it.
    int st = -1;
    std::string out = linux_sh("i686-w64-mingw32-objdump -p " + sh_quote(to_linux_path(exe_path())) +
                                   " | sed -n 's/^[[:space:]]*DLL Name: //p'",
                               &st);
    ASSERT_EQ(0, st) << "objdump";
    std::vector<std::string> by_objdump;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        if (end > pos) by_objdump.push_back(lower(out.substr(pos, end - pos)));
        pos = end + 1;
    }
    std::sort(by_objdump.begin(), by_objdump.end());
    EXPECT_EQ(by_objdump, dlls) << "imports as objdump reads them";
}

}  // namespace

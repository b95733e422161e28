// Run-time loading: LoadLibraryA, GetProcAddress, FreeLibrary,
// GetModuleHandleA, GetModuleFileNameA. The shared cases run against the
// real Win32 API on Windows and the stand-in on Linux; built-in modules and
// shared-object mapping are Linux-only.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

const char kNoSuchModule[] = "TWNOSUCH9.DLL";

TEST(PlatformModule, UnknownNameIsNotFound)
{
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA(kNoSuchModule));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, GetModuleHandleA(kNoSuchModule));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
}

TEST(PlatformModule, ProcessImageHasAFileName)
{
    HMODULE hImage = GetModuleHandleA(NULL);
    ASSERT_NE(nullptr, hImage);
    char szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameA(NULL, szPath, MAX_PATH);
    ASSERT_GT(cch, 0u) << "error " << GetLastError();
    EXPECT_EQ(strlen(szPath), cch);
    EXPECT_EQ(cch, GetModuleFileNameA(hImage, szPath, MAX_PATH));
}

TEST(PlatformModule, FileNameTooLongForTheBufferIsCut)
{
    char szPath[4];
    SetLastError(0);
    EXPECT_EQ(4u, GetModuleFileNameA(NULL, szPath, sizeof(szPath)));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

#if !defined(_WIN32)

// ---- Built-in modules (Linux) -----------------------------------------

INT_PTR WINAPI Alpha(void) { return 11; }
INT_PTR WINAPI Beta(void) { return 22; }

const PLATFORMEXPORT kTestExports[] = {
    { "Alpha", 1, reinterpret_cast<FARPROC>(&Alpha) },
    { NULL, 7, reinterpret_cast<FARPROC>(&Beta) },  // by ordinal only
};

class PlatformBuiltinModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PlatformRegisterModule("TWTESTMOD9.DLL", kTestExports, 2));
    }
};

TEST_F(PlatformBuiltinModule, NamesMatchWithoutCaseDirectoryOrExtension)
{
    HMODULE hModule = LoadLibraryA("TWTESTMOD9.DLL");
    ASSERT_NE(nullptr, hModule) << "error " << GetLastError();
    const char *const kSpellings[] = { "twtestmod9.dll", "twtestmod9",
                                       "C:\\Windows\\System32\\TwTestMod9.Dll",
                                       "/usr/lib/twtestmod9.DLL" };
    for (const char *lpszName : kSpellings) {
        SCOPED_TRACE(lpszName);
        EXPECT_EQ(hModule, GetModuleHandleA(lpszName));
        HMODULE hAgain = LoadLibraryA(lpszName);
        EXPECT_EQ(hModule, hAgain);
        EXPECT_TRUE(FreeLibrary(hAgain));
    }
    EXPECT_EQ(nullptr, GetModuleHandleA("twtestmod9.")) << "no extension";
    EXPECT_TRUE(FreeLibrary(hModule));
}

struct ProcCase {
    const char *lpszLabel;
    LPCSTR lpProcName;
    INT_PTR nResult;  // what the function returns; 0: not found
};

TEST_F(PlatformBuiltinModule, ProcsByNameAndOrdinal)
{
    const ProcCase kCases[] = {
        { "name", "Alpha", 11 },
        { "ordinal of a named export", reinterpret_cast<LPCSTR>(1), 11 },
        { "ordinal-only export", reinterpret_cast<LPCSTR>(7), 22 },
        { "names are case-sensitive", "alpha", 0 },
        { "unknown name", "Gamma", 0 },
        { "unknown ordinal", reinterpret_cast<LPCSTR>(3), 0 },
    };
    HMODULE hModule = LoadLibraryA("TWTESTMOD9.DLL");
    ASSERT_NE(nullptr, hModule);
    for (const ProcCase &c : kCases) {
        SCOPED_TRACE(c.lpszLabel);
        SetLastError(0);
        FARPROC lpfn = GetProcAddress(hModule, c.lpProcName);
        if (c.nResult == 0) {
            EXPECT_EQ(nullptr, lpfn);
            EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, GetLastError());
        } else {
            ASSERT_NE(nullptr, lpfn);
            EXPECT_EQ(c.nResult, lpfn());
        }
    }
    EXPECT_TRUE(FreeLibrary(hModule));
}

TEST_F(PlatformBuiltinModule, StaysLoadedUntilTheLastFree)
{
    HMODULE hFirst = LoadLibraryA("TWTESTMOD9.DLL");
    HMODULE hSecond = LoadLibraryA("TWTESTMOD9.DLL");
    ASSERT_NE(nullptr, hFirst);
    ASSERT_EQ(hFirst, hSecond);
    EXPECT_TRUE(FreeLibrary(hFirst));
    EXPECT_EQ(hFirst, GetModuleHandleA("TWTESTMOD9.DLL"));
    EXPECT_NE(nullptr, GetProcAddress(hFirst, "Alpha"));

    EXPECT_TRUE(FreeLibrary(hSecond));
    SetLastError(0);
    EXPECT_EQ(nullptr, GetModuleHandleA("TWTESTMOD9.DLL"));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(hFirst, "Alpha"));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(hFirst));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
}

TEST_F(PlatformBuiltinModule, BuiltinNameCannotBeMappedToASharedObject)
{
    SetLastError(0);
    EXPECT_FALSE(PlatformMapModuleName("TWTESTMOD9.DLL", "libm.so.6", NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(PlatformModuleHandles, ForeignHandlesAreRefused)
{
    int nNotAModule = 0;
    HMODULE hBogus = reinterpret_cast<HMODULE>(&nNotAModule);
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(hBogus, "Alpha"));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(hBogus));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
}

TEST(PlatformModuleHandles, SelfModuleIsThisLibrary)
{
    HMODULE hSelf = PlatformSelfModule();
    ASSERT_NE(nullptr, hSelf);
    EXPECT_NE(GetModuleHandleA(NULL), hSelf);
    EXPECT_EQ(hSelf, GetModuleHandleA("TWMAPAV9.DLL"));
    EXPECT_EQ(hSelf, LoadLibraryA("twmapav9"));
    EXPECT_TRUE(FreeLibrary(hSelf));
    EXPECT_EQ(hSelf, GetModuleHandleA("TWMAPAV9.DLL"));  // never unloaded
    char szPath[MAX_PATH];
    EXPECT_GT(GetModuleFileNameA(hSelf, szPath, MAX_PATH), 0u);
}

// ---- Shared objects mapped from DLL names (Linux) ---------------------

// libm stands in for a mapped library: with the ordinal prefix "j",
// ordinal 1 is the symbol j1 (TWTRACE9.DLL uses "TwTraceOrdinal").
class PlatformMappedModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PlatformMapModuleName("TWTESTLIBM9.DLL", "libm.so.6",
                                          "j"));
    }
};

typedef double (*UNARYMATHPROC)(double);

// FARPROC to the real type; the detour through void (*)(void) is how a
// cast between function types is spelled without a warning.
UNARYMATHPROC AsMathProc(FARPROC lpfn)
{
    return reinterpret_cast<UNARYMATHPROC>(
        reinterpret_cast<void (*)(void)>(lpfn));
}

TEST_F(PlatformMappedModule, ResolvesNamesAndOrdinalSymbols)
{
    HMODULE hModule = LoadLibraryA("twtestlibm9");
    ASSERT_NE(nullptr, hModule) << "error " << GetLastError();

    FARPROC lpfnCos = GetProcAddress(hModule, "cos");
    ASSERT_NE(nullptr, lpfnCos);
    EXPECT_DOUBLE_EQ(1.0, AsMathProc(lpfnCos)(0.0));

    FARPROC lpfnJ1 = GetProcAddress(hModule, reinterpret_cast<LPCSTR>(1));
    ASSERT_NE(nullptr, lpfnJ1) << "ordinal 1 is j1";
    EXPECT_NEAR(0.44005, AsMathProc(lpfnJ1)(1.0), 1e-5);

    const LPCSTR kMissing[] = { "TwNoSuchFunction",
                                reinterpret_cast<LPCSTR>(2),    // j2
                                reinterpret_cast<LPCSTR>(10) };  // j10
    for (LPCSTR lpProc : kMissing) {
        SetLastError(0);
        EXPECT_EQ(nullptr, GetProcAddress(hModule, lpProc));
        EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, GetLastError());
    }

    char szPath[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(hModule, szPath, MAX_PATH), 0u);
    EXPECT_NE(nullptr, strstr(szPath, "libm")) << szPath;

    SetLastError(0);
    EXPECT_FALSE(PlatformMapModuleName("TWTESTLIBM9.DLL", "libc.so.6", NULL));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError()) << "while loaded";
    EXPECT_TRUE(FreeLibrary(hModule));
}

TEST_F(PlatformMappedModule, WithoutPrefixOrdinalsAreNotFound)
{
    ASSERT_TRUE(PlatformMapModuleName("TWTESTLIBM9.DLL", "libm.so.6", NULL));
    HMODULE hModule = LoadLibraryA("TWTESTLIBM9.DLL");
    ASSERT_NE(nullptr, hModule);
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(hModule, reinterpret_cast<LPCSTR>(1)));
    EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, GetLastError());
    EXPECT_TRUE(FreeLibrary(hModule));
}

TEST(PlatformMappedModuleMissing, AbsentSharedObjectIsNotFound)
{
    ASSERT_TRUE(PlatformMapModuleName("TWABSENT9.DLL",
                                      "libtwabsent-no-such.so.9", NULL));
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA("TWABSENT9.DLL"));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
}

#endif  // !_WIN32

}  // namespace

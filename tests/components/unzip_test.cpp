// Unzip.dll as the updater uses it: loaded by name at run time and fed archives from
// build/test-data/unzip (made by Info-ZIP zip, Python's zipfile and make_zip_fixtures.py),
// each copied into a fresh folder first. Also the entry-name rules directly.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "components/unzip/Unzip.h"
#include "components/unzip/entry_name.h"
#include "components/unzip/zip_directory.h"
#include "framework/scoped_handle.h"
#include "tests/support/child_process.h"

namespace {

std::wstring ExeDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring DataDir() { return ExeDir() + L"..\\test-data\\unzip\\"; }
std::wstring TreeDir(const std::wstring& tree) { return DataDir() + L"trees\\" + tree; }

std::string ToGbk(const std::wstring& wide) {
    int n = WideCharToMultiByte(936, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string gbk(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(936, 0, wide.c_str(), -1, &gbk[0], n, nullptr, nullptr);
    gbk.resize(gbk.size() - 1);
    return gbk;
}

// The DLL loaded once, by name, exactly as the updater loads it.
struct CUnzipDll {
    ScopedModule module;
    int (*onUpdateFile)(const char*) = nullptr;
    float (*unzipComplete)(const char*) = nullptr;
};

const CUnzipDll& Dll() {
    static CUnzipDll dll = [] {
        CUnzipDll loaded;
        loaded.module.Reset(LoadLibraryW((ExeDir() + L"..\\bin\\Unzip.dll").c_str()));
        if (loaded.module.IsValid()) {
            loaded.onUpdateFile = reinterpret_cast<int (*)(const char*)>(
                reinterpret_cast<void*>(GetProcAddress(loaded.module.Get(), "OnUpdateFile")));
            loaded.unzipComplete = reinterpret_cast<float (*)(const char*)>(
                reinterpret_cast<void*>(GetProcAddress(loaded.module.Get(), "UnzipComplete")));
        }
        return loaded;
    }();
    return dll;
}

int Unpack(const std::wstring& archive) { return Dll().onUpdateFile(ToGbk(archive).c_str()); }
float Progress(const std::wstring& archive) { return Dll().unzipComplete(ToGbk(archive).c_str()); }

std::string ReadAll(const std::wstring& path) {
    ScopedKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string data;
    char buffer[65536];
    DWORD n = 0;
    while (file.IsValid() && ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr) && n > 0) data.append(buffer, n);
    return data;
}

void WriteAll(const std::wstring& path, const std::string& data) {
    ScopedKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD n = 0;
    ASSERT_TRUE(file.IsValid() && WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &n, nullptr));
}

// Chunked, so the 100 MiB file is never held twice in memory.
bool SameContent(const std::wstring& a, const std::wstring& b) {
    ScopedKernelHandle fa(CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ScopedKernelHandle fb(CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!fa.IsValid() || !fb.IsValid()) return false;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        DWORD na = 0, nb = 0;
        if (!ReadFile(fa.Get(), ba.data(), 1 << 20, &na, nullptr) || !ReadFile(fb.Get(), bb.data(), 1 << 20, &nb, nullptr))
            return false;
        if (na != nb || memcmp(ba.data(), bb.data(), na) != 0) return false;
        if (na == 0) return true;
    }
}

// Relative path -> is a folder, for everything below `root`.
std::map<std::wstring, bool> ListTree(const std::wstring& root, const std::wstring& prefix = L"") {
    std::map<std::wstring, bool> tree;
    WIN32_FIND_DATAW found;
    ScopedFind find(FindFirstFileW((root + L"\\" + prefix + L"*").c_str(), &found));
    if (!find.IsValid()) return tree;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        tree[prefix + name] = isFolder;
        if (isFolder)
            for (const auto& item : ListTree(root, prefix + name + L"\\")) tree.insert(item);
    } while (FindNextFileW(find.Get(), &found));
    return tree;
}

void RemoveTree(const std::wstring& root) {
    for (const auto& item : ListTree(root))
        if (!item.second) {
            SetFileAttributesW((root + L"\\" + item.first).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW((root + L"\\" + item.first).c_str());
        }
    auto tree = ListTree(root);
    for (auto it = tree.rbegin(); it != tree.rend(); ++it) RemoveDirectoryW((root + L"\\" + it->first).c_str());
    RemoveDirectoryW(root.c_str());
}

// A fresh folder per test: base\work holds the archive, base\cwd is the current directory
// while unpacking, so a name resolved against either would show up.
class CTestFolders {
public:
    explicit CTestFolders(const std::wstring& workName = L"work") {
        static int s_nCounter = 0;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_base = std::wstring(temp) + L"unzip-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++s_nCounter);
        m_work = m_base + L"\\" + workName;
        m_cwd = m_base + L"\\cwd";
        CreateDirectoryW(m_base.c_str(), nullptr);
        CreateDirectoryW(m_work.c_str(), nullptr);
        CreateDirectoryW(m_cwd.c_str(), nullptr);
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        m_saved = current;
        SetCurrentDirectoryW(m_cwd.c_str());
    }
    ~CTestFolders() {
        SetCurrentDirectoryW(m_saved.c_str());
        RemoveTree(m_base);
    }
    const std::wstring& Work() const { return m_work; }

    // Copies a fixture into the work folder; returns the copy's full path.
    std::wstring Copy(const std::wstring& archive) const {
        std::wstring target = m_work + L"\\" + archive;
        EXPECT_TRUE(CopyFileW((DataDir() + archive).c_str(), target.c_str(), FALSE)) << ToGbk(archive);
        return target;
    }
    // Nothing but the work folder (holding `expected`) and the empty cwd folder.
    void ExpectOnly(const std::set<std::wstring>& expected) const {
        std::set<std::wstring> names;
        for (const auto& item : ListTree(m_work)) names.insert(item.first);
        EXPECT_EQ(names, expected);
        ExpectNothingOutside();
    }
    void ExpectNothingOutside() const {
        std::map<std::wstring, bool> outside = ListTree(m_base);
        for (const auto& item : ListTree(m_work)) outside.erase(m_work.substr(m_base.size() + 1) + L"\\" + item.first);
        EXPECT_EQ(outside.size(), 2u) << "only the work and cwd folders may exist outside the archive's folder";
    }

private:
    std::wstring m_base, m_work, m_cwd, m_saved;
};

ULONGLONG WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// Every file and folder of the expected tree, byte for byte, and nothing else but the archive.
void ExpectTree(const std::wstring& tree, const CTestFolders& folders, const std::wstring& archive, bool times) {
    std::map<std::wstring, bool> expected = ListTree(TreeDir(tree));
    std::map<std::wstring, bool> actual = ListTree(folders.Work());
    actual.erase(archive);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(actual, expected);
    for (const auto& item : expected) {
        if (item.second) continue;
        std::wstring want = TreeDir(tree) + L"\\" + item.first, got = folders.Work() + L"\\" + item.first;
        EXPECT_TRUE(SameContent(want, got)) << ToGbk(item.first);
        if (times) {
            EXPECT_EQ(WriteTime(got), WriteTime(want)) << ToGbk(item.first);
        }
    }
}

// --- archives made by real tools, and well-formed crafted ones ------------------------------

struct CGoodArchive {
    const wchar_t* archive;
    const wchar_t* tree;
    bool times;  // the archive records modification times the tree has
};

class GoodArchives : public ::testing::TestWithParam<CGoodArchive> {};

TEST_P(GoodArchives, UnpackIntoTheirFolderByteForByte) {
    ASSERT_TRUE(Dll().onUpdateFile && Dll().unzipComplete);
    CTestFolders folders;
    std::wstring archive = folders.Copy(GetParam().archive);
    EXPECT_EQ(Progress(archive), 0.0f) << "nothing started yet";
    ASSERT_EQ(Unpack(archive), UNZIP_OK);
    ExpectTree(GetParam().tree, folders, GetParam().archive, GetParam().times);
    EXPECT_EQ(Progress(archive), 1.0f);
    EXPECT_EQ(Unpack(archive), UNZIP_OK) << "unpacking again overwrites";
    ExpectTree(GetParam().tree, folders, GetParam().archive, false);
}

INSTANTIATE_TEST_SUITE_P(
    Unzip, GoodArchives,
    ::testing::Values(CGoodArchive{L"infozip_deflate.zip", L"ascii", true},
                      CGoodArchive{L"infozip_stored.zip", L"ascii", true},
                      CGoodArchive{L"infozip_stream.zip", L"ascii", true},   // data descriptors
                      CGoodArchive{L"infozip_zip64.zip", L"ascii", true},
                      CGoodArchive{L"infozip_stdin.zip", L"stdin", false},   // Zip64 descriptor
                      CGoodArchive{L"python_deflate.zip", L"python", true},  // UTF-8 Chinese names
                      CGoodArchive{L"python_stored.zip", L"python", true},
                      CGoodArchive{L"python_stream.zip", L"python", true},
                      CGoodArchive{L"gbk_raw.zip", L"gbk", false},
                      CGoodArchive{L"zip64_fields.zip", L"zip64", false},
                      CGoodArchive{L"unicode_extra.zip", L"unicode_extra", false},
                      CGoodArchive{L"sweep.zip", L"sweep", false}));

TEST(UnzipPlacement, RelativeGbkPathReplacesFilesEvenReadOnly) {
    CTestFolders folders(L"更新 目录");
    folders.Copy(L"python_deflate.zip");
    WriteAll(folders.Work() + L"\\readme.txt", "old");
    SetFileAttributesW((folders.Work() + L"\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW((folders.Work() + L"\\data").c_str(), nullptr);
    WriteAll(folders.Work() + L"\\data\\random.bin", std::string(300000, 'x'));  // longer than the new one
    ASSERT_TRUE(SetCurrentDirectoryW(folders.Work().c_str()));

    ASSERT_EQ(Dll().onUpdateFile("python_deflate.zip"), UNZIP_OK);
    ExpectTree(L"python", folders, L"python_deflate.zip", true);
    EXPECT_EQ(Dll().unzipComplete("PYTHON_deflate.ZIP"), 1.0f) << "the same archive, other case";
    EXPECT_EQ(Progress(folders.Work() + L"\\python_deflate.zip"), 1.0f) << "full path of the same archive";
}

TEST(UnzipPlacement, BadArgumentsAndMissingArchive) {
    CTestFolders folders;
    EXPECT_EQ(Dll().onUpdateFile(nullptr), UNZIP_E_BAD_ARGUMENT);
    EXPECT_EQ(Dll().onUpdateFile(""), UNZIP_E_BAD_ARGUMENT);
    EXPECT_EQ(Dll().onUpdateFile("\x81"), UNZIP_E_BAD_ARGUMENT) << "not GBK";
    EXPECT_EQ(Dll().unzipComplete(nullptr), 0.0f);
    EXPECT_EQ(Unpack(folders.Work() + L"\\missing.zip"), UNZIP_E_OPEN);
    EXPECT_EQ(Unpack(folders.Work()), UNZIP_E_OPEN) << "a folder is no archive";
    folders.ExpectOnly({});
}

TEST(UnzipPlacement, SomethingInTheWayIsAWriteFailureWithoutPartialFiles) {
    auto expectNoPartialFile = [](const CTestFolders& folders) {
        for (const auto& item : ListTree(folders.Work()))
            EXPECT_EQ(item.first.find(L"~unzip"), std::wstring::npos) << ToGbk(item.first);
    };
    {
        CTestFolders folders;  // a folder where the file readme.txt goes
        std::wstring archive = folders.Copy(L"python_deflate.zip");
        CreateDirectoryW((folders.Work() + L"\\readme.txt").c_str(), nullptr);
        EXPECT_EQ(Unpack(archive), UNZIP_E_WRITE);
        EXPECT_NE(GetFileAttributesW((folders.Work() + L"\\readme.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
        expectNoPartialFile(folders);
        EXPECT_LT(Progress(archive), 1.0f);
    }
    {
        CTestFolders folders;  // a file where the folder data\ goes
        std::wstring archive = folders.Copy(L"python_deflate.zip");
        WriteAll(folders.Work() + L"\\data", "in the way");
        EXPECT_EQ(Unpack(archive), UNZIP_E_WRITE);
        EXPECT_EQ(ReadAll(folders.Work() + L"\\data"), "in the way");
        expectNoPartialFile(folders);
    }
}

// A process ended inside a commit (or a power loss) leaves a temporary file for good: the next
// unpack deletes those in the folders it writes to, and nothing that is not one of its own.
TEST(UnzipPlacement, LeftoversOfAnInterruptedUnpackGoFromTheFoldersItWrites) {
    CTestFolders folders;
    std::wstring archive = folders.Copy(L"python_deflate.zip");
    CreateDirectoryW((folders.Work() + L"\\data").c_str(), nullptr);
    CreateDirectoryW((folders.Work() + L"\\other").c_str(), nullptr);
    const std::wstring ownPid = std::to_wstring(GetCurrentProcessId());
    struct {
        std::wstring name;
        bool stays;
    } files[] = {
        {L"~unzip-999999-1.part", false},  // a process that has ended (no id is odd)
        {L"data\\~unzip-999999-2.part", false},
        {L"~unzip-" + ownPid + L"-999999.part", false},  // this process's, not being written
        {L"other\\~unzip-999999-3.part", true},         // a folder the archive does not touch
        {L"~unzip-notes.part", true},
        {L"~unzip-999999-4.part.txt", true},
    };
    for (const auto& file : files) WriteAll(folders.Work() + L"\\" + file.name, "left over");

    ASSERT_EQ(Unpack(archive), UNZIP_OK);

    for (const auto& file : files)
        EXPECT_EQ(GetFileAttributesW((folders.Work() + L"\\" + file.name).c_str()) != INVALID_FILE_ATTRIBUTES,
                  file.stays)
            << ToGbk(file.name);
    EXPECT_TRUE(SameContent(TreeDir(L"python") + L"\\readme.txt", folders.Work() + L"\\readme.txt"));
}

TEST(UnzipPlacement, EmptyArchiveSucceedsWithNothingWritten) {
    CTestFolders folders;
    std::wstring archive = folders.Copy(L"empty_archive.zip");
    EXPECT_EQ(Unpack(archive), UNZIP_OK);
    folders.ExpectOnly({L"empty_archive.zip"});
    EXPECT_EQ(Progress(archive), 1.0f);
}

// --- names that would leave the folder: refused before anything is written ------------------

TEST(UnzipSafety, UnsafeNamesFailAndWriteNothingAnywhere) {
    const wchar_t* const kCases[] = {
        L"dotdot_backslash", L"dotdot_slash", L"dotdot_nested", L"abs_slash",   L"abs_backslash",
        L"drive_relative",   L"drive_absolute", L"unc",         L"control_char", L"embedded_nul",
        L"device_name",      L"dots_only",    L"invalid_gbk",   L"invalid_utf8"};
    for (const wchar_t* name : kCases) {
        SCOPED_TRACE(ToGbk(name));
        CTestFolders folders;
        std::wstring archive = L"unsafe_" + std::wstring(name) + L".zip";
        EXPECT_EQ(Unpack(folders.Copy(archive)), UNZIP_E_UNSAFE_NAME);
        folders.ExpectOnly({archive});
        for (const wchar_t* escaped : {L"C:\\x.txt", L"C:\\abs.txt", L"C:\\foo.txt", L"C:\\users\\x.txt"})
            EXPECT_EQ(GetFileAttributesW(escaped), INVALID_FILE_ATTRIBUTES) << ToGbk(escaped);
    }
}

// --- damaged archives: a clear code, no complete-looking bad file ---------------------------

TEST(UnzipCorruption, EachDamageHasItsCodeAndLeavesNoBadFile) {
    struct CCase {
        const wchar_t* archive;
        int code;
        bool goodEntryWritten;  // the entry before the bad one is unpacked (data errors only)
    };
    const CCase kCases[] = {
        {L"corrupt_too_short.zip", UNZIP_E_DATA_SHORTER, true},
        {L"corrupt_stored_longer.zip", UNZIP_E_DATA_LONGER, true},
        {L"corrupt_crc_stored.zip", UNZIP_E_CRC, true},
        {L"corrupt_crc_deflate.zip", UNZIP_E_CRC, true},
        {L"corrupt_stream.zip", UNZIP_E_BAD_DATA, true},
        {L"corrupt_cut_stream.zip", UNZIP_E_BAD_DATA, true},
        {L"corrupt_encrypted.zip", UNZIP_E_ENCRYPTED, false},
        {L"corrupt_bzip2.zip", UNZIP_E_UNSUPPORTED, false},
        {L"corrupt_split.zip", UNZIP_E_UNSUPPORTED, false},
        {L"corrupt_directory.zip", UNZIP_E_BAD_DIRECTORY, false},
        {L"not_a_zip.zip", UNZIP_E_NOT_ZIP, false},
        {L"empty_file.zip", UNZIP_E_NOT_ZIP, false},
    };
    for (const CCase& c : kCases) {
        SCOPED_TRACE(ToGbk(c.archive));
        CTestFolders folders;
        EXPECT_EQ(Unpack(folders.Copy(c.archive)), c.code);
        if (c.goodEntryWritten) {
            folders.ExpectOnly({c.archive, L"good.txt"});
            EXPECT_EQ(ReadAll(folders.Work() + L"\\good.txt"), "a good entry before the bad one\n");
        } else {
            folders.ExpectOnly({c.archive});
        }
    }
}

TEST(UnzipCorruption, OverlappingEntriesAndSizesBeyondTheFreeSpaceWriteNothing) {
    const std::pair<const wchar_t*, int> kCases[] = {
        {L"overlap_shared.zip", UNZIP_E_OVERLAP},       // ten names, one data record
        {L"overlap_into_header.zip", UNZIP_E_OVERLAP},  // data running over the next header
        {L"huge_declared.zip", UNZIP_E_DISK_FULL},      // 2^60 bytes declared
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(ToGbk(c.first));
        CTestFolders folders;
        EXPECT_EQ(Unpack(folders.Copy(c.first)), c.second);
        folders.ExpectOnly({c.first});
    }
}

TEST(UnzipCorruption, DataLongerThanDeclaredStopsAtTheDeclaredSize) {
    // long.bin says 2 MiB but inflates to 6 MiB; tail.bin (8 MiB) comes after it. Progress
    // counts bytes written, so more than 2 of the 10 MiB would show above 0.2.
    CTestFolders folders;
    std::wstring archive = folders.Copy(L"corrupt_too_long.zip");
    EXPECT_EQ(Unpack(archive), UNZIP_E_DATA_LONGER);
    folders.ExpectOnly({L"corrupt_too_long.zip"});
    EXPECT_LE(Progress(archive), 0.2f);
}

TEST(UnzipCorruption, EveryTruncationFailsAndWritesNothing) {
    const std::string whole = ReadAll(DataDir() + L"sweep.zip");
    ASSERT_GT(whole.size(), 300u);
    CTestFolders folders;
    const std::wstring archive = folders.Work() + L"\\cut.zip";
    for (size_t n = 0; n < whole.size(); ++n) {
        WriteAll(archive, whole.substr(0, n));
        int code = Unpack(archive);
        if (code == UNZIP_OK || ListTree(folders.Work()).size() != 1) {
            ADD_FAILURE() << "prefix of " << n << " bytes: code " << code;
            break;
        }
    }
    WriteAll(archive, whole);
    EXPECT_EQ(Unpack(archive), UNZIP_OK) << "the whole archive still unpacks";
}

TEST(UnzipCorruption, AFlippedBitAnywhereNeverLeavesAWrongFile) {
    // Whatever a damaged byte does (other name, other size, other data), every file that
    // appears must hold the content of one of the archive's files, and none appears outside.
    const std::string whole = ReadAll(DataDir() + L"sweep.zip");
    std::set<std::string> contents;
    for (const auto& item : ListTree(TreeDir(L"sweep")))
        if (!item.second) contents.insert(ReadAll(TreeDir(L"sweep") + L"\\" + item.first));
    ASSERT_EQ(contents.size(), 3u);
    CTestFolders folders;
    const std::wstring archive = folders.Work() + L"\\flip.zip";
    int nFailed = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        std::string damaged = whole;
        damaged[i] = static_cast<char>(damaged[i] ^ (1 << (i % 8)));
        WriteAll(archive, damaged);
        nFailed += Unpack(archive) != UNZIP_OK;
        for (const auto& item : ListTree(folders.Work())) {
            if (item.second || item.first == L"flip.zip") continue;
            std::wstring path = folders.Work() + L"\\" + item.first;
            if (!contents.count(ReadAll(path))) {
                ADD_FAILURE() << "byte " << i << ": " << ToGbk(item.first) << " holds wrong data";
                return;
            }
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    EXPECT_GT(nFailed, static_cast<int>(whole.size() / 2)) << "most damage must be noticed";
    folders.ExpectNothingOutside();
}

// --- progress ---------------------------------------------------------------------------------

TEST(UnzipProgress, RisesSteadilyToOneWhileA100MiBEntryUnpacks) {
    CTestFolders folders;
    std::wstring archive = folders.Copy(L"big.zip");
    std::wstring upper = archive;
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    EXPECT_EQ(Progress(upper), 0.0f);

    std::atomic<bool> done{false};
    std::vector<float> samples;
    std::thread poller([&] {
        const std::string path = ToGbk(upper);  // polled by another spelling of the same path
        while (!done) samples.push_back(Dll().unzipComplete(path.c_str()));
    });
    int code = Unpack(archive);
    done = true;
    poller.join();

    ASSERT_EQ(code, UNZIP_OK);
    EXPECT_EQ(Progress(upper), 1.0f);
    ASSERT_FALSE(samples.empty());
    int nBetween = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_GE(samples[i], 0.0f);
        ASSERT_LE(samples[i], 1.0f);
        if (i > 0) {
            ASSERT_GE(samples[i], samples[i - 1]) << "sample " << i;
        }
        nBetween += samples[i] > 0.0f && samples[i] < 1.0f;
    }
    EXPECT_GT(nBetween, 0) << "progress must be visible while unpacking";
    EXPECT_TRUE(SameContent(TreeDir(L"big") + L"\\big.bin", folders.Work() + L"\\big.bin"));
}

// Waits until the unpack into `folder` has its temporary file open.
bool WaitForPartialFile(const std::wstring& folder) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(2))
        for (const auto& item : ListTree(folder))
            if (item.first.find(L"~unzip-") != std::wstring::npos) return true;
    return false;
}

// The child half of the next test: unpacks the archive the parent names, until it is killed.
TEST(UnzipStop, DISABLED_ChildUnpacks) {
    wchar_t archive[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"UNZIP_TEST_CHILD_ARCHIVE", archive, MAX_PATH), 0u);
    Unpack(archive);
}

TEST(UnzipStop, AProcessEndedDuringAnUnpackLeavesNoPartialFile) {
    CTestFolders folders;
    std::wstring archive = folders.Copy(L"big.zip");
    SetEnvironmentVariableW(L"UNZIP_TEST_CHILD_ARCHIVE", archive.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ChildProcess child;
    ASSERT_TRUE(child.Start(ToGbk(self), "--gtest_filter=UnzipStop.DISABLED_ChildUnpacks --gtest_also_run_disabled_tests", ""));
    bool seen = WaitForPartialFile(folders.Work());
    child.Kill();
    ASSERT_TRUE(seen);
    EXPECT_FALSE(child.IsRunning());
    folders.ExpectOnly({L"big.zip"});
}

// More than 4 GiB written: opt in with UNZIP_TEST_HUGE=1 (disk space and time).
TEST(UnzipProgress, HugeZip64EntryOver4GiB) {
    if (GetEnvironmentVariableW(L"UNZIP_TEST_HUGE", nullptr, 0) == 0) GTEST_SKIP() << "set UNZIP_TEST_HUGE=1";
    CTestFolders folders;
    ASSERT_EQ(Unpack(folders.Copy(L"huge_zip64.zip")), UNZIP_OK);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW((folders.Work() + L"\\huge.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, 257ULL << 24);
}

// --- the name rules, directly ---------------------------------------------------------------

TEST(UnzipEntryNames, SafeNamesBecomeRelativePaths) {
    struct CCase {
        std::wstring name, path;
        bool isDirectory;
    };
    const CCase kCases[] = {
        {L"a.txt", L"a.txt", false},
        {L"a/b\\c.txt", L"a\\b\\c.txt", false},
        {L"./a//b/", L"a\\b", true},
        {L"dir\\", L"dir", true},
        {L"...a", L"...a", false},
        {L"console.txt", L"console.txt", false},
        {L"com10", L"com10", false},
        {L"中文/说明.txt", L"中文\\说明.txt", false},
    };
    for (const CCase& c : kCases) {
        std::wstring path;
        bool isDirectory = !c.isDirectory;
        EXPECT_TRUE(unzip::MakeSafeRelativePath(c.name, path, isDirectory)) << ToGbk(c.name);
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(isDirectory, c.isDirectory) << ToGbk(c.name);
    }
}

TEST(UnzipEntryNames, UnsafeNamesAreRefused) {
    const std::wstring kCases[] = {
        L"", L"/", L"\\", L".", L"./", L"..", L"a/..", L"a/../b", L"..\\x", L"/abs", L"\\abs",
        L"\\\\server\\share\\x", L"C:foo", L"C:\\x", L"c:", L"file.txt:stream", L"a\tb",
        std::wstring(L"a\0b", 3), L"a\x7f", L"CON", L"nul.txt", L"sub/Com1.log", L"LPT9", L"aux .txt",
        L"CONIN$", L"x.", L"x ", L"a/.. /b", L"... ", L"a*b", L"a?b", L"a|b", L"a\"b", L"a<b", L"a>b"};
    for (const std::wstring& name : kCases) {
        std::wstring path;
        bool isDirectory = false;
        EXPECT_FALSE(unzip::MakeSafeRelativePath(name, path, isDirectory)) << ToGbk(name);
    }
}

TEST(UnzipEntryNames, DecodingFollowsTheUtf8FlagAndChecksBytes) {
    std::wstring text;
    EXPECT_TRUE(unzip::DecodeText("\xD6\xD0\xCE\xC4", unzip::kGbkCodePage, text));
    EXPECT_EQ(text, L"中文");
    EXPECT_TRUE(unzip::DecodeText("\x81\x5C", unzip::kGbkCodePage, text));
    EXPECT_EQ(text, L"乗") << "a trail byte 0x5C is no backslash";
    EXPECT_FALSE(unzip::DecodeText("a\x81", unzip::kGbkCodePage, text)) << "lead byte without trail";
    EXPECT_FALSE(unzip::DecodeText("\xC3\x28", CP_UTF8, text));

    unzip::CZipEntry entry;
    entry.rawName = "\xE4\xB8\xAD/x";  // 中 in UTF-8
    std::wstring path;
    bool isDirectory = false;
    EXPECT_EQ(unzip::MakeEntryPath(entry, path, isDirectory), UNZIP_E_UNSAFE_NAME) << "not GBK without the flag";
    entry.flags = unzip::kFlagUtf8;
    EXPECT_EQ(unzip::MakeEntryPath(entry, path, isDirectory), UNZIP_OK);
    EXPECT_EQ(path, L"中\\x");
}

TEST(UnzipEntryNames, Zip64FieldHoldsOnlyTheMarkedValuesInOrder) {
    auto field = [](std::initializer_list<uint64_t> values) {
        std::string data = std::string("\x01\x00", 2) + static_cast<char>(values.size() * 8) + '\0';
        for (uint64_t v : values)
            for (int i = 0; i < 8; ++i) data += static_cast<char>(v >> (8 * i));
        return data;
    };
    unzip::CZipEntry entry;
    entry.uncompressedSize = 100;
    entry.compressedSize = 0xFFFFFFFF;
    ASSERT_TRUE(unzip::ParseCentralExtra(field({0x123456789ULL, 0x1000000000ULL}), entry, true, false));
    EXPECT_EQ(entry.uncompressedSize, 100u) << "not marked: kept";
    EXPECT_EQ(entry.compressedSize, 0x123456789ULL) << "first value goes to the first marked field";
    EXPECT_EQ(entry.localHeaderOffset, 0x1000000000ULL);

    unzip::CZipEntry missing;
    missing.uncompressedSize = 0xFFFFFFFF;
    EXPECT_FALSE(unzip::ParseCentralExtra("", missing, false, false)) << "marked but absent";
    EXPECT_FALSE(unzip::ParseCentralExtra(field({1}), missing, true, false)) << "offset marked but absent";
}

}  // namespace

// The package manifest's checks, and the stream installer fed the zips of build/test-data/unzip
// (Info-ZIP, Python's zipfile, raw GBK names) in random blocks, with manifests made here from
// the zip's own directory; each zip's tree there is what unpacking it must give.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "components/unzip/Unzip.h"
#include "components/unzip/entry_layout.h"
#include "components/unzip/entry_name.h"
#include "framework/scoped_handle.h"
#include "framework/sha256.h"
#include "package/install_record.h"
#include "package/package_manifest.h"
#include "package/stream_installer.h"

namespace fs = std::filesystem;

namespace {

const std::string kHash(64, 'a');

// A zip of 200 bytes holding a folder, a stored file and a deflated one.
std::string GoodManifest(const std::string& second = "entry 8 0 21025 24576 - 73 110 20 35 0000abcd " + kHash +
                                                     " sub/b.txt") {
    return "zip-manifest 1\r\nzip 200 " + kHash + "\r\n" +
           "entry 0 0 21025 24576 1610712000 0 34 0 0 00000000 " + kHash + " sub/\r\n" +
           "entry 0 2048 21025 24576 -5 34 70 3 3 0000abcd " + kHash + " sub/a file.txt\r\n" + second +
           "\r\nend 3\r\n";
}

TEST(PackageManifest, TakesAGoodManifestAndRefusesWhatCannotBeInstalledSafely) {
    const std::string tail = " - 73 110 20 35 0000abcd " + kHash + " ";
    const struct {
        const char* fault;  // also what the reason says
        std::string secondLine;
    } cases[] = {
        {"", "entry 8 0 21025 24576" + tail + "sub/b.txt"},  // taken
        {"overlap", "entry 8 0 21025 24576 - 72 110 20 35 0000abcd " + kHash + " b.txt"},
        {"out of order", "entry 8 0 21025 24576 - 20 110 20 35 0000abcd " + kHash + " b.txt"},
        {"beyond the zip", "entry 8 0 21025 24576 - 73 110 95 35 0000abcd " + kHash + " b.txt"},
        {"unsafe name", "entry 8 0 21025 24576" + tail + "..\\x"},
        {"duplicate path", "entry 8 0 21025 24576" + tail + "SUB/A File.txt"},
        {"method 12", "entry 12 0 21025 24576" + tail + "b.txt"},
        {"bad hex", "entry 8 0 21025 24576 - 73 110 20 35 0000ABCD " + kHash + " b.txt"},
        {"encrypted", "entry 8 1 21025 24576" + tail + "b.txt"},
        {"bad number", "entry 8 0 021025 24576" + tail + "b.txt"},
    };
    for (const auto& c : cases) {
        PackageManifest manifest;
        std::string why;
        const bool good = *c.fault == '\0';
        EXPECT_EQ(good, ParsePackageManifest(GoodManifest(c.secondLine), &manifest, &why)) << c.fault << why;
        if (good) {
            ASSERT_EQ(manifest.entries.size(), 3u);
            EXPECT_EQ(manifest.entries[1].relativePath, L"sub\\a file.txt");
            EXPECT_EQ(manifest.entries[1].unixTime, -5);
        } else {
            EXPECT_NE(why.find(c.fault), std::string::npos) << why;
        }
    }
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path DataDir() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return fs::path(exe).parent_path().parent_path() / L"test-data" / L"unzip";
}

// The manifest the publisher would make, from the zip's directory and the tree it unpacks to.
PackageManifest MakeManifest(const fs::path& zip, const fs::path& tree) {
    unzip::CArchiveFile archive;
    unzip::CZipDirectory directory;
    EXPECT_TRUE(archive.Open(zip.wstring()));
    EXPECT_EQ(unzip::ReadZipDirectory(archive, directory), UNZIP_OK);
    std::string zipHash;
    BytesSha256(ReadAll(zip), &zipHash);
    std::ostringstream text;
    text << "zip-manifest 1\r\nzip " << archive.Size() << " " << zipHash << "\r\n";
    for (const unzip::CZipEntry& e : directory.entries) {
        uint64_t dataOffset = 0;
        std::wstring path;
        bool isDirectory = false;
        EXPECT_EQ(unzip::LocateEntryData(archive, directory.directoryOffset, e, dataOffset), UNZIP_OK);
        EXPECT_EQ(unzip::MakeEntryPath(e, path, isDirectory), UNZIP_OK);
        std::string sha;
        if (isDirectory) BytesSha256("", &sha);
        else FileSha256((tree / path).wstring(), &sha);
        char crc[9];
        snprintf(crc, sizeof crc, "%08x", e.crc);
        text << "entry " << e.method << " " << e.flags << " " << e.dosDate << " " << e.dosTime << " "
             << (e.hasUnixTime ? std::to_string(e.unixTime) : "-") << " " << e.localHeaderOffset << " " << dataOffset
             << " " << e.compressedSize << " " << e.uncompressedSize << " " << crc << " " << sha << " " << e.rawName
             << "\r\n";
    }
    text << "end " << directory.entries.size() << "\r\n";
    PackageManifest manifest;
    std::string why;
    EXPECT_TRUE(ParsePackageManifest(text.str(), &manifest, &why)) << why;
    return manifest;
}

// Relative path -> content ("/" for a folder) of everything below `root`.
std::map<std::wstring, std::string> Tree(const fs::path& root) {
    std::map<std::wstring, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root))
        tree[item.path().lexically_relative(root).wstring()] = item.is_directory() ? "/" : ReadAll(item.path());
    return tree;
}

// A zip of the test data, a fresh folder to install it into, and its bytes fed in random blocks.
class PackageInstall : public ::testing::Test {
protected:
    void Load(const wchar_t* zipName, const wchar_t* treeName) {
        tree = DataDir() / L"trees" / treeName;
        zip = ReadAll(DataDir() / zipName);
        manifest = MakeManifest(DataDir() / zipName, tree);
        folder = fs::temp_directory_path() / (L"package-test-" + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        fs::remove_all(folder);
        fs::remove(RecordPath());
    }
    static std::string Gbk(const fs::path& path) {
        char gbk[MAX_PATH * 2];
        WideCharToMultiByte(936, 0, path.c_str(), -1, gbk, sizeof gbk, nullptr, nullptr);
        return gbk;
    }
    std::string GbkFolder() const { return Gbk(folder); }
    fs::path RecordPath() const { return folder.wstring() + L"-installed.txt"; }
    // The whole zip installed with a record, which is saved; the record as the next run loads it.
    InstallRecord InstallRecorded() {
        InstallRecord record(Gbk(RecordPath()));
        StreamInstaller installer(manifest, GbkFolder());
        installer.UseRecord(&record);
        EXPECT_TRUE(Feed(installer, installer.Plan(), zip.size()));
        EXPECT_TRUE(record.Save());
        InstallRecord loaded(Gbk(RecordPath()));
        loaded.Load();
        return loaded;
    }
    // Feeds [from, to) in blocks of 1 byte to 64 KiB.
    bool Feed(StreamInstaller& installer, uint64_t from, uint64_t to) {
        while (from < to) {
            size_t block = std::min<uint64_t>(to - from, std::uniform_int_distribution<size_t>(1, 65536)(random));
            if (!installer.Feed(from, zip.data() + from, block)) return false;
            from += block;
        }
        return true;
    }
    const ManifestEntry& Largest() const {
        return *std::max_element(manifest.entries.begin(), manifest.entries.end(),
                                 [](const ManifestEntry& a, const ManifestEntry& b) { return a.dataLength < b.dataLength; });
    }

    fs::path tree, folder;
    std::string zip;
    PackageManifest manifest;
    std::mt19937 random{22};
};

TEST_F(PackageInstall, EveryKindOfZipInstallsItsTreeByteForByte) {
    const std::pair<const wchar_t*, const wchar_t*> zips[] = {
        {L"infozip_deflate.zip", L"ascii"}, {L"infozip_stored.zip", L"ascii"}, {L"infozip_stream.zip", L"ascii"},
        {L"infozip_zip64.zip", L"ascii"},   {L"python_deflate.zip", L"python"}, {L"gbk_raw.zip", L"gbk"}};
    for (const auto& z : zips) {
        Load(z.first, z.second);
        StreamInstaller installer(manifest, GbkFolder());
        uint64_t from = installer.Plan();
        EXPECT_EQ(from, 0u);
        ASSERT_TRUE(Feed(installer, from, zip.size())) << installer.FailureReason();
        EXPECT_TRUE(installer.Done());
        EXPECT_EQ(Tree(folder), Tree(tree)) << fs::path(z.first).string();
    }
}

TEST_F(PackageInstall, ARestartInsideAnEntryConverges) {
    Load(L"infozip_deflate.zip", L"ascii");
    StreamInstaller installer(manifest, GbkFolder());
    const ManifestEntry& big = Largest();
    ASSERT_TRUE(Feed(installer, installer.Plan(), big.dataOffset + big.dataLength / 2));
    uint64_t from = installer.Restart();
    EXPECT_EQ(from, big.localHeaderOffset);
    ASSERT_TRUE(Feed(installer, from, zip.size()));
    EXPECT_TRUE(installer.Done());
    EXPECT_EQ(Tree(folder), Tree(tree));
}

TEST_F(PackageInstall, AnEntryThatCannotBeInstalledFailsOnItAndLeavesTheOtherFilesWhole) {
    // A tampered byte fails the check; a folder in the file's place fails its replacement,
    // which happens on another thread and must still name the entry.
    for (bool tampered : {true, false}) {
        Load(L"infozip_stored.zip", L"ascii");
        const ManifestEntry& big = Largest();
        fs::create_directories((folder / big.relativePath).parent_path());
        if (tampered) {
            zip[big.dataOffset + big.dataLength / 2] ^= 1;
            std::ofstream(folder / big.relativePath) << "old release";
        } else {
            fs::create_directories(folder / big.relativePath / L"in the way");
        }
        StreamInstaller installer(manifest, GbkFolder());
        EXPECT_FALSE(Feed(installer, installer.Plan(), zip.size()) && installer.Settle());
        EXPECT_EQ(installer.FailedPath(), GbkFolder() + "\\" + fs::path(big.relativePath).string());
        if (tampered) EXPECT_EQ(ReadAll(folder / big.relativePath), "old release");
        else EXPECT_TRUE(fs::is_directory(folder / big.relativePath / L"in the way"));
        std::map<std::wstring, std::string> expected = Tree(tree);
        for (const auto& item : Tree(folder))
            if (item.first.rfind(big.relativePath, 0) != 0) {
                EXPECT_EQ(item.second, expected[item.first]) << item.first;
            }
    }
}

TEST_F(PackageInstall, PlanSkipsEntriesAlreadyInstalled) {
    Load(L"infozip_deflate.zip", L"ascii");
    StreamInstaller first(manifest, GbkFolder());
    ASSERT_TRUE(Feed(first, first.Plan(), zip.size()));
    const ManifestEntry& changed = *std::find_if(manifest.entries.rbegin(), manifest.entries.rend(),
                                                 [](const ManifestEntry& e) { return e.size > 0; });
    std::ofstream(folder / changed.relativePath) << "damaged";
    const fs::file_time_type marked = fs::last_write_time(folder / changed.relativePath);
    for (const ManifestEntry& e : manifest.entries)
        if (&e != &changed && !e.isDirectory) fs::last_write_time(folder / e.relativePath, marked);

    StreamInstaller second(manifest, GbkFolder());
    uint64_t from = second.Plan();
    EXPECT_EQ(from, changed.localHeaderOffset);
    EXPECT_EQ(second.NeededBytes(), changed.dataOffset + changed.dataLength - from);
    ASSERT_TRUE(Feed(second, from, zip.size()));
    EXPECT_EQ(Tree(folder), Tree(tree));
    for (const ManifestEntry& e : manifest.entries)
        if (&e != &changed && !e.isDirectory) {
            EXPECT_EQ(fs::last_write_time(folder / e.relativePath), marked) << e.rawName;
        }
    EXPECT_EQ(StreamInstaller(manifest, GbkFolder()).Plan(), manifest.zipSize);
}

TEST_F(PackageInstall, WithARecordPlanReadsNoUnchangedFile) {
    Load(L"infozip_deflate.zip", L"ascii");
    InstallRecord record = InstallRecorded();
    // Held open without read sharing: any attempt to hash them fails.
    std::vector<ScopedKernelHandle> locks;
    for (const ManifestEntry& e : manifest.entries)
        if (!e.isDirectory) {
            locks.emplace_back(CreateFileW((folder / e.relativePath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(locks.back().IsValid()) << e.rawName;
        }
    StreamInstaller installer(manifest, GbkFolder());
    installer.UseRecord(&record);
    EXPECT_EQ(installer.Plan(), manifest.zipSize);
    EXPECT_EQ(installer.NeededBytes(), 0u);
}

TEST_F(PackageInstall, FilesChangedByHandAreFetchedAloneAcrossTheGaps) {
    Load(L"infozip_deflate.zip", L"ascii");
    InstallRecord record = InstallRecorded();
    // Same size, other content and time; the entries between them stay as installed.
    const ManifestEntry& first = manifest.entries.front();
    const ManifestEntry& last = manifest.entries.back();
    ASSERT_GT(first.size, 0u);
    ASSERT_GT(last.size, 0u);
    for (const ManifestEntry* e : {&first, &last}) {
        std::string content = ReadAll(folder / e->relativePath);
        content[0] ^= 1;
        std::ofstream(folder / e->relativePath, std::ios::binary) << content;
    }
    StreamInstaller installer(manifest, GbkFolder());
    installer.UseRecord(&record);
    installer.Plan();
    const std::vector<ByteRange> ranges = installer.NeededRanges();
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].first, first.localHeaderOffset);
    EXPECT_EQ(ranges[0].end, first.dataOffset + first.dataLength);
    EXPECT_EQ(ranges[1].first, last.localHeaderOffset);
    EXPECT_EQ(ranges[1].end, last.dataOffset + last.dataLength);
    for (const ByteRange& range : ranges)
        ASSERT_TRUE(Feed(installer, range.first, range.end)) << installer.FailureReason();
    EXPECT_TRUE(installer.Done());
    EXPECT_EQ(Tree(folder), Tree(tree));
}

TEST_F(PackageInstall, SkippingANeededEntryFailsOnIt) {
    Load(L"infozip_deflate.zip", L"ascii");
    StreamInstaller installer(manifest, GbkFolder());
    installer.Plan();
    const std::vector<ByteRange> ranges = installer.NeededRanges();
    ASSERT_EQ(ranges.size(), manifest.entries.size());
    ASSERT_TRUE(Feed(installer, ranges[0].first, ranges[0].end));
    EXPECT_FALSE(Feed(installer, ranges[2].first, ranges[2].end));
    EXPECT_EQ(installer.FailedPath(), GbkFolder() + "\\" + Gbk(manifest.entries[1].relativePath));
}

TEST(InstallRecord, ADamagedRecordCountsAsEmpty) {
    const std::string path = (fs::temp_directory_path() / "install-record-test.txt").string();
    const std::string hash(64, 'c');
    InstallRecord written(path);
    written.Remember("C:\\Game\\Data\\a.pak", 5, 132000000000000000, hash);
    written.Remember("C:\\Game\\b.exe", 70000, 7, std::string(64, 'd'));
    ASSERT_TRUE(written.Save());
    const std::string good = ReadAll(path);
    const struct {
        const char* fault;
        std::string text;
    } cases[] = {
        {"", good},  // intact: found whatever the case of the path
        {"cut short", good.substr(0, good.size() - 7)},
        {"count", good.substr(0, good.size() - 3) + "3\r\n"},
        {"version", "updater-installed 2" + good.substr(good.find("\r\n"))},
        {"hash case", good.substr(0, good.find(hash)) + "C" + good.substr(good.find(hash) + 1)},
        {"leading zero", good.substr(0, good.find(" 7 ")) + " 07 " + good.substr(good.find(" 7 ") + 3)},
        {"after the end", good + "x"},
    };
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        InstallRecord record(path);
        record.Load();
        EXPECT_EQ(record.HashIfUnchanged("c:\\game\\DATA\\A.PAK", 5, 132000000000000000), *c.fault ? "" : hash)
            << c.fault;
    }
    fs::remove(path);
}

}  // namespace

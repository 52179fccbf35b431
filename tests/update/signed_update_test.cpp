// Signed update files: with the publisher's key installed, the update URL file and the list
// run only when their signatures verify, when their "[release]" section says they belong to
// the URL they came from and are neither older than what was accepted there nor expired, and
// every download they name carries its sha256; without a key, unsigned lists run as they
// always did; a malformed key stops every update.
// The keys are throw-away ones made by the build (make_test_keys.py); the tests sign what
// they serve with the private key's CNG blob, since the server's port is known only now.
#include <windows.h>
#include <bcrypt.h>

#include "framework/crypto_handles.h"
#include "framework/scoped_handle.h"
#include "framework/trace.h"
#include "tests/support/publisher_signature.h"
#include "tests/update/engine_fixture.h"
#include "tests/update/zip_writer.h"
#include "update/publisher_key.h"
#include "update/release_check.h"
#include "update/serial_store.h"
#include "update/signature_check.h"
#include "update/update_paths.h"

namespace {

const char kPackage[] = "/pkg/game.zip";
const char kFuture[] = "2099-12-31T23:59:59Z";

std::string KeyPath(const std::string& name) { return GetModuleDir() + "\\test-keys\\" + name; }

std::string Sha256(const std::string& bytes) {
    BCRYPT_ALG_HANDLE opened = nullptr;
    EXPECT_EQ(0, ::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    ScopedCryptoAlgorithm sha(opened);
    BCRYPT_HASH_HANDLE created = nullptr;
    EXPECT_EQ(0, ::BCryptCreateHash(sha.Get(), &created, nullptr, 0, nullptr, 0, 0));
    ScopedCryptoHash hashing(created);
    std::string input = bytes;
    EXPECT_EQ(0, ::BCryptHashData(hashing.Get(), reinterpret_cast<PUCHAR>(&input[0]), static_cast<ULONG>(input.size()), 0));
    std::string hash(32, '\0');
    EXPECT_EQ(0, ::BCryptFinishHash(hashing.Get(), reinterpret_cast<PUCHAR>(&hash[0]), 32, 0));
    return hash;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) hex += std::string{kDigits[c >> 4], kDigits[c & 15]};
    return hex;
}

// What `openssl dgst -sha256 -sign` would write for `bytes`, made with `signer`'s private key.
std::string Sign(const std::string& bytes, const std::string& signer) {
    return SignAsPublisher(bytes, ReadWholeFile(KeyPath(signer + ".blob")));
}

std::vector<unsigned char> KeyBlob(const std::string& name) {
    std::vector<unsigned char> blob;
    EXPECT_TRUE(ParsePublisherKeyPem(ReadWholeFile(KeyPath(name)), &blob)) << name;
    return blob;
}

std::string ReleaseSection(const std::string& url, const std::string& serial, const std::string& expires = kFuture) {
    return "[release]\r\nurl=" + url + "\r\nserial=" + serial + "\r\nexpires=" + expires + "\r\n";
}

class SignedUpdates : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ::DeleteFileA(SerialStorePath().c_str());
        ASSERT_EQ(PublisherKeyState::kLoaded, LoadPublisherKey(KeyPath("publisher-test.pub")));
    }
    void TearDown() override {
        LoadPublisherKey(KeyPath("absent.pub"));
        ::DeleteFileA(SerialStorePath().c_str());
        EngineTest::TearDown();
    }

    // Serves `body` at `target` as the publisher signs it: with a current "[release]" section
    // for that URL, unless `release` gives another one.
    void ServeSigned(const std::string& target, const std::string& body, const std::string& signer = "publisher-test",
                     const std::string& release = "") {
        std::string bytes = body + (release.empty() ? ReleaseSection(m_server.Url(target), "5") : release);
        m_server.Serve(target, ServedFile{bytes});
        m_server.Serve(target + ".sig", ServedFile{Sign(bytes, signer)});
    }
    std::string UrlFileText() const { return "[config]\r\nmain=" + ListUrl() + "\r\n"; }
    // The list and the update URL file naming it, both signed by the publisher.
    void ServeSignedList(const std::string& listText, const std::string& listRelease = "",
                         const std::string& urlFileRelease = "") {
        ServeSigned(kListFile, listText, "publisher-test", listRelease);
        ServeSigned(kUrlFile, UrlFileText(), "publisher-test", urlFileRelease);
    }
    // Section list<index>: a download of `target`, which serves `body`, with its checksum.
    std::string Download(int index, const std::string& target, const std::string& body, const std::string& dest,
                         const std::string& action = "2", const std::string& cmd = "") const {
        return MakeListText({{action, m_server.Url(target), Rel(dest), cmd}}, index) + "sha256=" + Hex(Sha256(body)) +
               "\r\n";
    }
    // A command entry that leaves a folder behind, so a test sees whether the list ran.
    std::string Marker(int index) const { return MakeListText({{"1", "", Rel("list-ran"), "CRE"}}, index); }
    // The reachable last entry at `index` and the end marker after it.
    std::string Ending(int index) const {
        return MakeListText({Reachable()}, index) + "[list" + std::to_string(index + 1) + "]\r\naction=0\r\n";
    }
    int RunTask() {
        TaskPtr task = NewTask();
        task->nState = kTaskRunning;
        return RunWorker(task);
    }
    bool Requested(const std::string& target) {
        for (const SeenRequest& request : m_server.Requests())
            if (request.target == target) return true;
        return false;
    }
    void ExpectRefused(const std::string& url) {
        ExpectOnlyBox("更新文件" + url + "的签名无效.", "错误", kErrorBox);
        EXPECT_FALSE(FolderExists(Full("list-ran")));
        EXPECT_FALSE(Requested(kReachable));
    }
};

TEST_F(SignedUpdates, ASignedUrlFileAndListInstallTheGame) {
    std::string zip = MakeStoredZip({{"readme.txt", "hello"}, {"data/level1.bin", "level one"}});
    m_server.Serve(kPackage, ServedFile{zip});
    ServeSignedList(Marker(0) + Download(1, kPackage, zip, "game.zip", "3", "DEC") + Ending(2));

    EXPECT_EQ(0, RunTask());

    ExpectNoBox();
    EXPECT_TRUE(FolderExists(Full("list-ran")));
    EXPECT_EQ("hello", ReadWholeFile(Full("readme.txt")));
    EXPECT_EQ("level one", ReadWholeFile(Full("data\\level1.bin")));
    EXPECT_TRUE(Requested(std::string(kUrlFile) + ".sig"));
    EXPECT_TRUE(Requested(std::string(kListFile) + ".sig"));
}

TEST_F(SignedUpdates, AListChangedByOneByteAfterSigningIsRefusedAndNothingInItRuns) {
    std::string list = Marker(0) + Ending(1);
    ServeSignedList(list);
    std::string changed = list + ReleaseSection(ListUrl(), "5");
    changed[changed.find("list-ran")] = 'L';  // creates "List-ran": the same folder on this file system
    m_server.Serve(kListFile, ServedFile{changed});

    EXPECT_NE(0, RunTask());
    ExpectRefused(ListUrl());
}

TEST_F(SignedUpdates, AMissingSignatureIsRefused) {
    ServeSigned(kListFile, Marker(0) + Ending(1));
    m_server.Serve(kUrlFile, ServedFile{UrlFileText() + ReleaseSection(UrlFileUrl(), "5")});  // its ".sig" answers 404

    EXPECT_NE(0, RunTask());
    ExpectRefused(UrlFileUrl());
    EXPECT_FALSE(Requested(kListFile));
}

TEST_F(SignedUpdates, ASignatureByAnotherKeyIsRefused) {
    ServeSigned(kUrlFile, UrlFileText());
    ServeSigned(kListFile, Marker(0) + Ending(1), "other-test");

    EXPECT_NE(0, RunTask());
    ExpectRefused(ListUrl());
}

TEST_F(SignedUpdates, ADownloadEntryWithoutItsSha256IsRefusedBeforeAnythingRuns) {
    const std::string tool = m_server.Url("/files/tool.txt");
    m_server.Serve("/files/tool.txt", ServedFile{"tool"});
    ServeSignedList(Marker(0) + MakeListText({{"2", tool, Rel("tool.txt"), ""}}, 1) + Ending(2));

    EXPECT_NE(0, RunTask());
    ExpectOnlyBox("解析更新列表文件错误,下载项list1没有有效的sha256校验值.\n源文件: " + tool, "错误", kErrorBox);
    EXPECT_FALSE(FolderExists(Full("list-ran")));
    EXPECT_FALSE(Requested("/files/tool.txt"));
}

TEST_F(SignedUpdates, APackageChangedAfterSigningIsRefusedBeforeItIsUnpacked) {
    std::string zip = MakeStoredZip({{"readme.txt", "hello"}});
    m_server.Serve(kPackage, ServedFile{MakeStoredZip({{"readme.txt", "replaced"}})});
    ServeSignedList(Download(0, kPackage, zip, "game.zip", "3", "DEC") + Ending(1));

    RunTask();

    EXPECT_FALSE(FileExists(Full("readme.txt")));
    bool checksumBox = false;
    for (const ShownBox& box : Boxes()) checksumBox |= box.text.find("校验文件") != std::string::npos;
    EXPECT_TRUE(checksumBox);
}

// A signed file that belongs elsewhere, is older than one accepted before or has expired is
// refused before anything in the list runs. `earlier`: a list release accepted first (the
// same list text), after the store was given `storeBefore`.
TEST_F(SignedUpdates, ReleasesFromAnotherUrlOlderOrExpiredAreRefusedAndNothingRuns) {
    const std::string list = Marker(0) + Ending(1);
    const std::string otherGame = m_server.Url("/other-game/list.ini");
    const std::string older = "更新文件" + ListUrl() + "比已安装的版本旧.";
    struct Row {
        const char* what;
        std::string storeBefore;
        std::string earlier;
        std::string listRelease;
        std::string urlFileRelease;
        std::string message;  // empty: accepted, the list runs
    };
    const Row rows[] = {
        {"an older serial", "", ReleaseSection(ListUrl(), "7"), ReleaseSection(ListUrl(), "6"), "", older},
        {"the same serial with other bytes", "", ReleaseSection(ListUrl(), "7", "2098-12-31T23:59:59Z"),
         ReleaseSection(ListUrl(), "7"), "", older},
        {"the same file again", "", ReleaseSection(ListUrl(), "7"), ReleaseSection(ListUrl(), "7"), "", ""},
        {"a newer serial", "", ReleaseSection(ListUrl(), "7"), ReleaseSection(ListUrl(), "20250101000000"), "", ""},
        {"a damaged store counts as empty, and is made whole again",
         "update-serials 1\r\n9 00 " + ListUrl() + "\r\n", ReleaseSection(ListUrl(), "3"),
         ReleaseSection(ListUrl(), "2"), "", older},
        {"another game's list at this URL", "", "", ReleaseSection(otherGame, "9"), "",
         "更新文件" + ListUrl() + "不属于此网址."},
        {"another game's update URL file", "", "", "", ReleaseSection(m_server.Url("/other-game/update.ini"), "9"),
         "更新文件" + UrlFileUrl() + "不属于此网址."},
        {"an expired list", "", "", ReleaseSection(ListUrl(), "9", "2020-01-01T00:00:00Z"), "",
         "更新文件" + ListUrl() + "已过期."},
        {"no release section", "", "", "[other]\r\n", "", "更新文件" + ListUrl() + "缺少有效的发布信息."},
        {"serial 0", "", "", ReleaseSection(ListUrl(), "0"), "", "更新文件" + ListUrl() + "缺少有效的发布信息."},
        {"serial over 2^63-1", "", "", ReleaseSection(ListUrl(), "9223372036854775808"), "",
         "更新文件" + ListUrl() + "缺少有效的发布信息."},
        {"no such day", "", "", ReleaseSection(ListUrl(), "9", "2099-02-29T00:00:00Z"), "",
         "更新文件" + ListUrl() + "缺少有效的发布信息."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Fresh();
        ::DeleteFileA(SerialStorePath().c_str());
        if (!row.storeBefore.empty()) WriteWholeFile(SerialStorePath(), row.storeBefore);
        if (!row.earlier.empty()) {
            ServeSignedList(list, row.earlier);
            EXPECT_EQ(0, RunTask());
            ExpectNoBox();
            Fresh();
        }
        ServeSignedList(list, row.listRelease, row.urlFileRelease);
        int result = RunTask();
        if (row.message.empty()) {
            EXPECT_EQ(0, result);
            ExpectNoBox();
            EXPECT_TRUE(FolderExists(Full("list-ran")));
            continue;
        }
        EXPECT_NE(0, result);
        ExpectOnlyBox(row.message, "错误", kErrorBox);
        EXPECT_FALSE(FolderExists(Full("list-ran")));
        EXPECT_FALSE(Requested(kReachable));
    }
}

// A store that is there but held by another program (a scanner, a backup) is never taken as
// empty, and a serial that can't be kept is never taken as accepted: the task installs nothing
// and the store stays as it was.
TEST_F(SignedUpdates, AStoreThatCantBeReadOrSavedEndsTheTaskAndStaysAsItWas) {
    const std::string store = "update-serials 1\r\n9 " + std::string(64, 'a') + " " +
                              m_server.Url("/other-game/list.ini") + "\r\n";
    struct Row {
        const char* what;
        DWORD share;  // how another program holds the store
        std::string message;  // the path and a full stop follow
    };
    const Row rows[] = {{"held without sharing", 0, "无法读取已接受的版本记录"},
                        {"held for reading only", FILE_SHARE_READ, "无法保存已接受的版本记录"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Fresh();
        WriteWholeFile(SerialStorePath(), store);
        ServeSignedList(Marker(0) + Ending(1));
        {
            ScopedKernelHandle held(::CreateFileA(SerialStorePath().c_str(), GENERIC_READ, row.share, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(held.IsValid());
            EXPECT_NE(0, RunTask());
        }
        ExpectOnlyBox(row.message + SerialStorePath() + ".", "错误", kErrorBox);
        EXPECT_FALSE(FolderExists(Full("list-ran")));
        EXPECT_EQ(store, ReadWholeFile(SerialStorePath()));
    }
}

TEST(ReleaseValues, SerialsAndTimesHaveOneSpellingAndTheirWholeRange) {
    std::uint64_t serial = 0;
    EXPECT_TRUE(ParseSerial("9223372036854775807", &serial));
    EXPECT_EQ(9223372036854775807ULL, serial);
    for (const char* text : {"", "0", "-1", "+1", " 1", "1e3", "18446744073709551617", "99999999999999999999"})
        EXPECT_FALSE(ParseSerial(text, &serial)) << text;

    std::int64_t seconds = 0;
    ASSERT_TRUE(ParseReleaseTime("2024-02-29T23:59:59Z", &seconds));
    EXPECT_EQ(1709251199, seconds);
    for (const char* text : {"2023-02-29T00:00:00Z", "2024-13-01T00:00:00Z", "2024-01-01T24:00:00Z",
                             "2024-01-01 00:00:00Z", "2024-01-01T00:00:00", "2024-01-01T00:00:00+00:00"})
        EXPECT_FALSE(ParseReleaseTime(text, &seconds)) << text;
}

class UnsignedUpdates : public EngineTest {};

TEST_F(UnsignedUpdates, WithoutAKeyAnUnsignedListInstallsAsToday) {
    std::vector<std::string> trace;
    SetTraceSink([&](const std::string& line) { trace.push_back(line); });
    EXPECT_TRUE(SetUpPublisherKey(m_fullFolder));
    SetTraceSink(nullptr);
    ASSERT_EQ(1u, trace.size());
    EXPECT_NE(std::string::npos, trace[0].find("not checked")) << trace[0];

    m_server.Serve("/files/tool.txt", ServedFile{"tool"});
    EXPECT_EQ(0, RunList({{"2", m_server.Url("/files/tool.txt"), Rel("tool.txt"), ""}}));
    ExpectNoBox();
    EXPECT_EQ("tool", ReadWholeFile(Full("tool.txt")));
    for (const SeenRequest& request : m_server.Requests()) EXPECT_EQ(std::string::npos, request.target.find(".sig"));
}

TEST_F(UnsignedUpdates, AMalformedKeyStopsEveryUpdateWithAMessage) {
    const std::string path = JoinPath(m_fullFolder, "update-key.pub");
    const std::string message = "更新公钥文件" + path + "不是有效的ECDSA P-256公钥,所有更新都已停止.";
    WriteWholeFile(path, ReadWholeFile(KeyPath("publisher-test.pub")).substr(0, 60));
    EXPECT_FALSE(SetUpPublisherKey(m_fullFolder));
    ExpectOnlyBox(message, "错误", kErrorBox);

    for (int task = 0; task < 2; ++task) {
        Fresh();
        EXPECT_NE(0, RunList({{"1", "", Rel("list-ran"), "CRE"}}));
        ExpectOnlyBox(message, "错误", kErrorBox);
        EXPECT_TRUE(m_server.Requests().empty());
        EXPECT_FALSE(FolderExists(Full("list-ran")));
    }
    LoadPublisherKey(KeyPath("absent.pub"));
}

TEST(PublisherKeyFile, OnlyAnUncompressedP256PublicKeyIsTaken) {
    std::string pem = ReadWholeFile(KeyPath("publisher-test.pub"));
    std::vector<unsigned char> blob;
    ASSERT_TRUE(ParsePublisherKeyPem(pem, &blob));
    EXPECT_EQ(8u + 64u, blob.size());
    EXPECT_EQ(0x31534345u, *reinterpret_cast<const ULONG*>(blob.data()));  // "ECS1": P-256 public

    const std::string refused[] = {
        "",
        pem.substr(0, pem.size() / 2),
        pem + "-----BEGIN PUBLIC KEY-----\n",
        ReadWholeFile(KeyPath("other-curve-test.pub")),
        ReadWholeFile(KeyPath("publisher-test.pem")),
    };
    for (const std::string& text : refused) EXPECT_FALSE(ParsePublisherKeyPem(text, &blob)) << text;
}

TEST(DetachedSignature, AnOpensslSignatureVerifiesOnlyUnderItsKeyAndOverItsBytes) {
    std::string signature = ReadWholeFile(KeyPath("sample.txt.sig"));
    std::string sample = ReadWholeFile(KeyPath("sample.txt"));
    EXPECT_TRUE(VerifySignature(KeyBlob("publisher-test.pub"), sample, signature));
    EXPECT_FALSE(VerifySignature(KeyBlob("other-test.pub"), sample, signature));
    EXPECT_FALSE(VerifySignature(KeyBlob("publisher-test.pub"), sample, signature + '\0'));
    EXPECT_FALSE(VerifySignature(KeyBlob("publisher-test.pub"), sample + '\n', signature));
}

}  // namespace

#include "update/publisher_key.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>
#include <mutex>

#include "download/download_messages.h"
#include "framework/trace.h"
#include "update/engine_messages.h"
#include "update/small_file.h"
#include "update/update_paths.h"

namespace {
constexpr size_t kKeyFileLimit = 64 * 1024;
constexpr size_t kCoordinateBytes = 32;
const char kPemBegin[] = "-----BEGIN PUBLIC KEY-----";
const char kPemEnd[] = "-----END PUBLIC KEY-----";

// A P-256 SubjectPublicKeyInfo has one fixed layout up to the point: SEQUENCE { SEQUENCE {
// id-ecPublicKey, prime256v1 }, BIT STRING { 0 unused bits, 04 (uncompressed), X, Y } }.
const unsigned char kSpkiPrefix[] = {
    0x30, 0x59,                                                  // SEQUENCE, 89 bytes
    0x30, 0x13,                                                  //   SEQUENCE, 19 bytes
    0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01,        //     1.2.840.10045.2.1
    0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07,  //     1.2.840.10045.3.1.7
    0x03, 0x42, 0x00,                                            //   BIT STRING, 66 bytes
    0x04,                                                        //     uncompressed point
};

std::mutex g_keyMutex;
PublisherKey g_key;

bool IsBlank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

bool DecodeBase64(const std::string& text, std::string* bytes) {
    DWORD size = 0;
    if (!::CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr, &size,
                                nullptr, nullptr))
        return false;
    bytes->assign(size, '\0');
    if (size == 0) return true;
    if (!::CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                                reinterpret_cast<BYTE*>(&(*bytes)[0]), &size, nullptr, nullptr))
        return false;
    bytes->resize(size);
    return true;
}

void InstallKey(PublisherKey key) {
    std::lock_guard<std::mutex> lock(g_keyMutex);
    g_key = std::move(key);
}
}  // namespace

bool ParsePublisherKeyPem(const std::string& pem, std::vector<unsigned char>* blob) {
    size_t begin = pem.find(kPemBegin);
    if (begin == std::string::npos) return false;
    size_t bodyStart = begin + std::strlen(kPemBegin);
    size_t end = pem.find(kPemEnd, bodyStart);
    if (end == std::string::npos) return false;
    // One key and nothing else: a second block or stray text means someone else's file.
    if (!IsBlank(pem.substr(0, begin)) || !IsBlank(pem.substr(end + std::strlen(kPemEnd)))) return false;
    std::string der;
    if (!DecodeBase64(pem.substr(bodyStart, end - bodyStart), &der)) return false;
    if (der.size() != sizeof kSpkiPrefix + 2 * kCoordinateBytes) return false;
    if (std::memcmp(der.data(), kSpkiPrefix, sizeof kSpkiPrefix) != 0) return false;

    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(kCoordinateBytes)};
    const unsigned char* head = reinterpret_cast<const unsigned char*>(&header);
    blob->assign(head, head + sizeof header);
    blob->insert(blob->end(), der.begin() + sizeof kSpkiPrefix, der.end());
    return true;
}

PublisherKeyState LoadPublisherKey(const std::string& path) {
    PublisherKey key;
    key.path = path;
    std::string pem;
    DWORD error = ERROR_SUCCESS;
    if (ReadSmallFile(path, kKeyFileLimit, &pem, &error)) {
        key.state = ParsePublisherKeyPem(pem, &key.blob) ? PublisherKeyState::kLoaded : PublisherKeyState::kMalformed;
    } else {
        bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        key.state = missing ? PublisherKeyState::kNone : PublisherKeyState::kMalformed;
    }
    if (key.state != PublisherKeyState::kLoaded) key.blob.clear();
    PublisherKeyState state = key.state;
    InstallKey(std::move(key));
    return state;
}

bool SetUpPublisherKey(const std::string& folder) {
    std::string path = JoinPath(folder, kPublisherKeyFileName);
    switch (LoadPublisherKey(path)) {
    case PublisherKeyState::kNone:
        TraceLine("qen: no %s beside the updater: update files and lists are not checked", kPublisherKeyFileName);
        return true;
    case PublisherKeyState::kLoaded:
        TraceLine("qen: publisher key %s loaded: update files and lists must be signed", path.c_str());
        return true;
    case PublisherKeyState::kMalformed:
        break;
    }
    TraceLine("qen: publisher key %s is malformed: no update will run", path.c_str());
    ShowEngineError(MalformedKeyMessage(path));
    return false;
}

PublisherKey CurrentPublisherKey() {
    std::lock_guard<std::mutex> lock(g_keyMutex);
    return g_key;
}

std::string MalformedKeyMessage(const std::string& path) {
    return FormatText("更新公钥文件%s不是有效的ECDSA P-256公钥,所有更新都已停止.", path.c_str());
}

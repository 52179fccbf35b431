#include "framework/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "framework/crypto_handles.h"
#include "framework/scoped_handle.h"

namespace {

constexpr DWORD kReadBytes = 1024 * 1024;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool IsSha256Text(const std::string& text) {
    if (text.size() != 2 * kSha256Bytes) return false;
    for (char c : text) {
        if (HexValue(c) < 0) return false;
    }
    return true;
}

bool SameSha256(const std::string& a, const std::string& b) {
    if (!IsSha256Text(a) || !IsSha256Text(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (HexValue(a[i]) != HexValue(b[i])) return false;
    }
    return true;
}

bool FileSha256Digest(const std::wstring& path, unsigned char* digest) {
    ScopedKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) return false;
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
    ScopedCryptoAlgorithm algorithm(rawAlgorithm);
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), &rawHash, nullptr, 0, nullptr, 0, 0))) return false;
    ScopedCryptoHash hash(rawHash);

    std::vector<UCHAR> buffer(kReadBytes);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data(), kReadBytes, &got, nullptr)) return false;
        if (got == 0) break;
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.Get(), buffer.data(), got, 0))) return false;
    }
    return BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), digest, kSha256Bytes, 0));
}

bool FileSha256(const std::wstring& path, std::string* hex) {
    UCHAR digest[kSha256Bytes];
    if (!FileSha256Digest(path, digest)) return false;
    static const char kDigits[] = "0123456789abcdef";
    hex->clear();
    for (UCHAR byte : digest) {
        hex->push_back(kDigits[byte >> 4]);
        hex->push_back(kDigits[byte & 15]);
    }
    return true;
}

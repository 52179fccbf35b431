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

bool BytesSha256Digest(const std::string& bytes, unsigned char* digest) {
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
    ScopedCryptoAlgorithm algorithm(rawAlgorithm);
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), &rawHash, nullptr, 0, nullptr, 0, 0))) return false;
    ScopedCryptoHash hash(rawHash);
    // The platform's parameter is not const, but it only reads.
    PUCHAR input = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    if (!BCRYPT_SUCCESS(BCryptHashData(hash.Get(), input, static_cast<ULONG>(bytes.size()), 0))) return false;
    return BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), digest, kSha256Bytes, 0));
}

namespace {
std::string DigestText(const UCHAR* digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned long i = 0; i < kSha256Bytes; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 15]);
    }
    return hex;
}
}  // namespace

bool FileSha256(const std::wstring& path, std::string* hex) {
    UCHAR digest[kSha256Bytes];
    if (!FileSha256Digest(path, digest)) return false;
    *hex = DigestText(digest);
    return true;
}

bool BytesSha256(const std::string& bytes, std::string* hex) {
    UCHAR digest[kSha256Bytes];
    if (!BytesSha256Digest(bytes, digest)) return false;
    *hex = DigestText(digest);
    return true;
}

#include "framework/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
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

bool Sha256Hasher::Begin() {
    m_hash.Close();
    m_blocksOpen = CpuHasSha256Instructions();
    if (m_blocksOpen) {
        m_blocks.Begin();
        return true;
    }
    if (!m_algorithm.IsValid()) {
        BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            return false;
        m_algorithm.Reset(rawAlgorithm);
    }
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(m_algorithm.Get(), &rawHash, nullptr, 0, nullptr, 0, 0))) return false;
    m_hash.Reset(rawHash);
    return true;
}

bool Sha256Hasher::Add(const void* data, size_t size) {
    if (m_blocksOpen) {
        m_blocks.Add(data, size);
        return true;
    }
    // The platform's parameter is not const, but it only reads.
    PUCHAR p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
        if (!m_hash.IsValid() || !BCRYPT_SUCCESS(BCryptHashData(m_hash.Get(), p, piece, 0))) return false;
        p += piece;
        size -= piece;
    }
    return true;
}

bool Sha256Hasher::FinishDigest(unsigned char* digest) {
    if (m_blocksOpen) {
        m_blocks.Finish(digest);
        m_blocksOpen = false;
        return true;
    }
    bool done = m_hash.IsValid() && BCRYPT_SUCCESS(BCryptFinishHash(m_hash.Get(), digest, kSha256Bytes, 0));
    m_hash.Close();
    return done;
}

bool FileSha256Digest(const std::wstring& path, unsigned char* digest) {
    ScopedKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    Sha256Hasher run;
    if (!file.IsValid() || !run.Begin()) return false;
    std::vector<UCHAR> buffer(kReadBytes);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data(), kReadBytes, &got, nullptr)) return false;
        if (got == 0) break;
        if (!run.Add(buffer.data(), got)) return false;
    }
    return run.FinishDigest(digest);
}

bool BytesSha256Digest(const std::string& bytes, unsigned char* digest) {
    Sha256Hasher run;
    return run.Begin() && run.Add(bytes.data(), bytes.size()) && run.FinishDigest(digest);
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

bool Sha256Hasher::Finish(std::string* hex) {
    UCHAR digest[kSha256Bytes];
    if (!FinishDigest(digest)) return false;
    *hex = DigestText(digest);
    return true;
}

#include "tests/support/publisher_signature.h"

#include <windows.h>
#include <bcrypt.h>
#include <gtest/gtest.h>

#include "framework/crypto_handles.h"
#include "framework/sha256.h"

namespace {
// One coordinate as a DER INTEGER: leading zeros dropped, a zero added before a high bit.
std::string DerInteger(const std::string& coordinate) {
    size_t first = coordinate.find_first_not_of('\0');
    std::string value = first == std::string::npos ? std::string(1, '\0') : coordinate.substr(first);
    if (static_cast<unsigned char>(value[0]) & 0x80) value.insert(0, 1, '\0');
    return std::string{0x02, static_cast<char>(value.size())} + value;
}
}  // namespace

std::string SignAsPublisher(const std::string& bytes, const std::string& privateBlob) {
    std::string blob = privateBlob;
    BCRYPT_ALG_HANDLE opened = nullptr;
    EXPECT_EQ(0, ::BCryptOpenAlgorithmProvider(&opened, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
    ScopedCryptoAlgorithm ecdsa(opened);
    BCRYPT_KEY_HANDLE imported = nullptr;
    EXPECT_EQ(0, ::BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &imported,
                                       reinterpret_cast<PUCHAR>(&blob[0]), static_cast<ULONG>(blob.size()), 0));
    ScopedCryptoKey key(imported);
    unsigned char hash[kSha256Bytes] = {};
    EXPECT_TRUE(BytesSha256Digest(bytes, hash));
    std::string raw(64, '\0');
    ULONG size = 0;
    EXPECT_EQ(0, ::BCryptSignHash(key.Get(), nullptr, hash, kSha256Bytes, reinterpret_cast<PUCHAR>(&raw[0]), 64,
                                  &size, 0));
    std::string body = DerInteger(raw.substr(0, 32)) + DerInteger(raw.substr(32));
    return std::string{0x30, static_cast<char>(body.size())} + body;
}

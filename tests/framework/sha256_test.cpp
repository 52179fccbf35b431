// SHA-256 on the CPU's instructions must agree with the platform's hashing however the bytes
// are split, across every padding boundary and over many blocks.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "framework/sha256.h"
#include "framework/sha256_blocks.h"

namespace {

std::string Hex(const unsigned char* digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned long i = 0; i < kSha256Bytes; ++i) hex += {kDigits[digest[i] >> 4], kDigits[digest[i] & 15]};
    return hex;
}

std::string PlatformSha256(const std::string& bytes) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    EXPECT_EQ(0, BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    ScopedCryptoAlgorithm algorithmOwner(algorithm);
    EXPECT_EQ(0, BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    ScopedCryptoHash hashOwner(hash);
    unsigned char digest[kSha256Bytes];
    EXPECT_EQ(0, BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), bytes.size(), 0));
    EXPECT_EQ(0, BCryptFinishHash(hash, digest, kSha256Bytes, 0));
    return Hex(digest);
}

TEST(Sha256, InstructionsAgreeWithThePlatformForAnySplit) {
    if (!CpuHasSha256Instructions()) GTEST_SKIP() << "this CPU has no SHA instructions";
    std::mt19937 random(22);
    for (size_t length : {0, 1, 55, 56, 63, 64, 65, 119, 1000, (1 << 20) + 7}) {
        std::string bytes(length, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        Sha256Blocks blocks;
        Sha256Hasher hasher;
        ASSERT_TRUE(hasher.Begin());
        blocks.Begin();
        for (size_t at = 0; at < length;) {
            size_t piece = std::min<size_t>(length - at, random() % (2u << random() % 18));
            blocks.Add(bytes.data() + at, piece);
            ASSERT_TRUE(hasher.Add(bytes.data() + at, piece));
            at += piece;
        }
        unsigned char digest[kSha256Bytes];
        blocks.Finish(digest);
        std::string expected = PlatformSha256(bytes), fromHasher;
        ASSERT_TRUE(hasher.Finish(&fromHasher));
        EXPECT_EQ(expected, Hex(digest)) << length << " bytes";
        EXPECT_EQ(expected, fromHasher) << length << " bytes";
    }
}

TEST(Sha256, KnownDigests) {
    std::string hex;
    ASSERT_TRUE(BytesSha256("", &hex));
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", hex);
    ASSERT_TRUE(BytesSha256("abc", &hex));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", hex);
}

}  // namespace

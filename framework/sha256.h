#pragma once
// SHA-256 of a file or of bytes, read in pieces so a package of any size costs one small
// buffer. Computed with the CPU's SHA instructions where it has them, else through the
// platform's hashing (CNG).
#include <cstddef>
#include <string>

#include "framework/crypto_handles.h"
#include "framework/sha256_blocks.h"

constexpr unsigned long kSha256Bytes = 32;

// True for exactly 64 hexadecimal digits, either case.
bool IsSha256Text(const std::string& text);

// The file's SHA-256 as 64 lower-case hexadecimal digits; false when the file can't be read
// or the platform can't hash.
bool FileSha256(const std::wstring& path, std::string* hex);

// The same as the 32 bytes of the digest.
bool FileSha256Digest(const std::wstring& path, unsigned char* digest);

// The SHA-256 of bytes in memory, as digits and as the 32 bytes.
bool BytesSha256(const std::string& bytes, std::string* hex);
bool BytesSha256Digest(const std::string& bytes, unsigned char* digest);

// Two digests in text form name the same value (the case of the digits doesn't matter).
bool SameSha256(const std::string& a, const std::string& b);

// A SHA-256 fed in pieces as bytes arrive. The provider is opened once and kept, so starting
// a digest per file costs little even for thousands of files.
class Sha256Hasher {
public:
    // Starts a new digest, dropping any unfinished one.
    bool Begin();
    bool Add(const void* data, size_t size);
    // The digest of everything added since Begin, as 64 lower-case hexadecimal digits.
    bool Finish(std::string* hex);
    // The same as the 32 bytes of the digest.
    bool FinishDigest(unsigned char* digest);

private:
    // True between Begin and Finish when the digest runs on the CPU's instructions; otherwise
    // an open m_hash carries it.
    bool m_blocksOpen = false;
    Sha256Blocks m_blocks;
    ScopedCryptoAlgorithm m_algorithm;
    ScopedCryptoHash m_hash;
};

#include "update/signature_check.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "framework/crypto_handles.h"
#include "framework/sha256.h"

namespace {
constexpr size_t kCoordinateBytes = 32;

bool Succeeded(NTSTATUS status) { return status >= 0; }

// One DER INTEGER holding a positive value of at most 32 bytes, left-padded into `out`.
bool ReadCoordinate(const unsigned char*& at, const unsigned char* end, unsigned char* out) {
    if (end - at < 2 || at[0] != 0x02) return false;
    size_t length = at[1];
    at += 2;
    if (length == 0 || static_cast<size_t>(end - at) < length) return false;
    const unsigned char* value = at;
    at += length;
    if (value[0] & 0x80) return false;                                 // negative
    if (length > 1 && value[0] == 0 && !(value[1] & 0x80)) return false;  // not minimal
    if (length > 1 && value[0] == 0) {
        ++value;
        --length;
    }
    if (length > kCoordinateBytes) return false;
    std::memset(out, 0, kCoordinateBytes);
    std::memcpy(out + kCoordinateBytes - length, value, length);
    return true;
}

}  // namespace

bool DerSignatureToRaw(const std::string& der, std::string* raw) {
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    const unsigned char* end = at + der.size();
    // At most 2 + 2 * 35 bytes: the length is always in its one-byte form.
    if (der.size() < 2 || at[0] != 0x30 || at[1] >= 0x80 || at[1] != der.size() - 2) return false;
    at += 2;
    unsigned char rs[2 * kCoordinateBytes];
    if (!ReadCoordinate(at, end, rs) || !ReadCoordinate(at, end, rs + kCoordinateBytes) || at != end) return false;
    raw->assign(reinterpret_cast<const char*>(rs), sizeof rs);
    return true;
}

bool VerifySignature(const std::vector<unsigned char>& keyBlob, const std::string& bytes,
                     const std::string& derSignature) {
    std::string raw;
    if (!DerSignatureToRaw(derSignature, &raw)) return false;
    unsigned char hash[kSha256Bytes];
    if (!BytesSha256Digest(bytes, hash)) return false;

    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
    ScopedCryptoAlgorithm ecdsa(opened);
    BCRYPT_KEY_HANDLE imported = nullptr;
    std::vector<unsigned char> blob = keyBlob;
    if (!Succeeded(::BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported, blob.data(),
                                         static_cast<ULONG>(blob.size()), 0)))
        return false;
    ScopedCryptoKey key(imported);
    NTSTATUS status = ::BCryptVerifySignature(key.Get(), nullptr, hash, kSha256Bytes,
                                              reinterpret_cast<PUCHAR>(&raw[0]), static_cast<ULONG>(raw.size()), 0);
    return status == 0;
}

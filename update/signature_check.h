#pragma once
// Detached signatures of the update files: the DER ECDSA signature that
// `openssl dgst -sha256 -sign` writes over a file's exact bytes, checked with the platform's
// cryptography (CNG) against the publisher's key. Pure functions over bytes: fetching the
// files and their signatures is the update files' business.
#include <string>
#include <vector>

// A DER ECDSA-Sig-Value, SEQUENCE { INTEGER r, INTEGER s }, as the 64 bytes r || s that CNG
// takes for P-256. False for anything that is not exactly that.
bool DerSignatureToRaw(const std::string& der, std::string* raw);

// True when `derSignature` is the key's (a BCRYPT_ECCPUBLIC_BLOB of a P-256 key) signature
// over the SHA-256 of `bytes`.
bool VerifySignature(const std::vector<unsigned char>& keyBlob, const std::string& bytes,
                     const std::string& derSignature);

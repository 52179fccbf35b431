#pragma once
// Signatures as the publisher's tool writes them (`openssl dgst -sha256 -sign`: DER ECDSA
// P-256), made in-process with a throw-away private key that the build keeps as a CNG blob.
#include <string>

// The DER signature of `bytes` under the private key in `privateBlob` (BCRYPT_ECCPRIVATE_BLOB).
// Fails the calling test when the key can't be used.
std::string SignAsPublisher(const std::string& bytes, const std::string& privateBlob);

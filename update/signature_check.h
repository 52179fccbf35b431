#pragma once
// Detached signatures of the update files: URL + ".sig" holds the DER ECDSA signature that
// `openssl dgst -sha256 -sign` writes over the file's exact bytes. Checked with the platform's
// cryptography (CNG) against the publisher's key.
#include <string>
#include <vector>

#include "lobby/update_task.h"
#include "update/publisher_key.h"

// A DER ECDSA-Sig-Value, SEQUENCE { INTEGER r, INTEGER s }, as the 64 bytes r || s that CNG
// takes for P-256. False for anything that is not exactly that.
bool DerSignatureToRaw(const std::string& der, std::string* raw);

// True when `derSignature` is the key's signature over the SHA-256 of the file's bytes.
bool VerifyFileSignature(const std::vector<unsigned char>& keyBlob, const std::string& filePath,
                         const std::string& derSignature);

// Fetches `url` + ".sig" and checks `filePath`, the file fetched from `url`, against it. A
// missing, malformed or wrong signature shows "更新文件%s的签名无效." with the URL and deletes
// `filePath`. False ends the task.
bool CheckUpdateFileSignature(UpdateTask* task, const PublisherKey& key, const std::string& url,
                              const std::string& filePath);

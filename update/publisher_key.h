#pragma once
// The publisher's public key, "update-key.pub" beside the updater: with one installed, the
// update files are used only when their publisher signed them. Loaded once at start.
#include <string>
#include <vector>

enum class PublisherKeyState {
    kNone,       // no file: update files are used unchecked, as they always were
    kLoaded,     // every update file must carry a good signature
    kMalformed,  // a file that is no such key: no update runs at all
};

struct PublisherKey {
    PublisherKeyState state = PublisherKeyState::kNone;
    std::string path;                 // where it was looked for
    std::vector<unsigned char> blob;  // kLoaded: a BCRYPT_ECCPUBLIC_BLOB of a P-256 key
};

constexpr char kPublisherKeyFileName[] = "update-key.pub";

// A PEM "PUBLIC KEY" (SubjectPublicKeyInfo) of an uncompressed ECDSA P-256 point, as
// `openssl ec -pubout` writes it, turned into a BCRYPT_ECCPUBLIC_BLOB. False for anything else.
bool ParsePublisherKeyPem(const std::string& pem, std::vector<unsigned char>* blob);

// Reads the key at `path` and makes it the process's key. A missing file gives kNone; a file
// that exists but cannot be read or parsed gives kMalformed, never an unchecked update.
PublisherKeyState LoadPublisherKey(const std::string& path);

// Start-up: loads "update-key.pub" from `folder`, traces what that means, and shows an error
// box when the file is malformed. False when it is (no update will run).
bool SetUpPublisherKey(const std::string& folder);

// A copy of the process's key, for one task.
PublisherKey CurrentPublisherKey();

// The box text for a malformed key file.
std::string MalformedKeyMessage(const std::string& path);

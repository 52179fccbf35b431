#pragma once
// Owners of CNG handles: an algorithm provider, a key, a hash.
#include <windows.h>
#include <bcrypt.h>

#include "framework/scoped_handle.h"

struct CryptoAlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { BCryptCloseAlgorithmProvider(h, 0); }
};

struct CryptoKeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { BCryptDestroyKey(h); }
};

using ScopedCryptoAlgorithm = ScopedHandle<CryptoAlgorithmTraits>;
using ScopedCryptoKey = ScopedHandle<CryptoKeyTraits>;

struct CryptoHashTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { BCryptDestroyHash(h); }
};

using ScopedCryptoHash = ScopedHandle<CryptoHashTraits>;

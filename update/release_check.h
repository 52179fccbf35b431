#pragma once
// Where and when a signed update file belongs: its "[release]" section names the URL it is
// served from, a serial that grows with every release and the moment it stops being valid.
// A signature alone would let a mirror serve last year's list, or another game's, in its place.
#include <cstdint>
#include <string>

#include "update/serial_store.h"

// The "[release]" section as read, values untouched.
struct ReleaseInfo {
    bool present = false;  // the section exists
    std::string url;
    std::string serial;
    std::string expires;
};

enum class ReleaseVerdict {
    kAccepted,
    kMissing,      // no section, or a value missing or malformed
    kOtherUrl,     // made for another URL
    kOlder,        // a lower serial than accepted before, or the same serial with other bytes
    kExpired,
};

// "YYYY-MM-DDTHH:MM:SSZ" (UTC) as seconds since 1970-01-01. False for anything else,
// impossible dates included.
bool ParseReleaseTime(const std::string& text, std::int64_t* seconds);

// The verdict on a file fetched from `fetchedUrl` whose bytes have the SHA-256 `sha256Hex`,
// at `nowUtc` (seconds since 1970-01-01), given what was accepted before. A digest that is not
// 64 lower-case hex digits counts as kMissing.
ReleaseVerdict DecideRelease(const ReleaseInfo& info, const std::string& fetchedUrl, const std::string& sha256Hex,
                             std::int64_t nowUtc, const SerialStore& accepted);

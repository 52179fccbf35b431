#pragma once
// The serials of the signed update files accepted so far, per URL, kept in a small file beside
// the updater so that no mirror can push an older release once a newer one was seen. A missing
// or damaged file counts as "nothing seen yet". A file that is there but can't be read (held
// by a scanner or a backup, over its cap) is no such thing: forgetting it would let every
// other URL be replayed, so the caller refuses to go on.
#include <cstdint>
#include <map>
#include <string>

struct AcceptedRelease {
    std::uint64_t serial = 0;
    std::string sha256;  // 64 lower-case hex digits of the bytes accepted with that serial
};

// Keyed by the URL exactly as fetched.
using SerialStore = std::map<std::string, AcceptedRelease>;

constexpr char kSerialStoreFileName[] = "update-serials.txt";

// "1" to "9223372036854775807", digits only. False for anything else.
bool ParseSerial(const std::string& text, std::uint64_t* serial);

// The file beside the updater.
std::string SerialStorePath();

// The store in `path`, empty when the file is missing or is not wholly a store. False when the
// file is there but still can't be read after a few tries within about a second.
bool LoadSerialStore(const std::string& path, SerialStore* store);

// Replaces `path` in one step: a side file written and flushed, then moved over it, tried a
// few times within about a second. False (with the system's error traced) when that fails;
// the old file is then unchanged.
bool SaveSerialStore(const std::string& path, const SerialStore& store);

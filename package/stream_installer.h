#pragma once
// Installs the entries of a package zip while its bytes arrive, guided by the package's
// manifest: the archive itself never lands on disk.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download/package_ranges.h"
#include "package/package_manifest.h"

class InstallRecord;

class StreamInstaller {
public:
    // Installs the entries of one manifest under `folder` (full GBK path of the archive's
    // folder, the folder the archive would be unpacked into).
    StreamInstaller(const PackageManifest& manifest, std::string folder);
    ~StreamInstaller();
    StreamInstaller(const StreamInstaller&) = delete;
    StreamInstaller& operator=(const StreamInstaller&) = delete;

    // Optional: consulted by Plan (a file whose size and time match its record is taken at its
    // recorded hash without reading it; others are read and remembered) and told of every commit.
    void UseRecord(InstallRecord* record);

    // Decides what is needed: an entry whose installed file already has the manifest's size and
    // SHA-256 (or a directory that exists) is not written again. Returns the zip offset of the
    // first byte needed (the local header offset of the first needed entry), or zipSize when
    // nothing is needed.
    uint64_t Plan();
    // After Plan: the zip ranges the needed entries occupy (local header offset .. data end),
    // in order, one per needed entry (not merged).
    std::vector<ByteRange> NeededRanges() const;
    // The zip's bytes [offset, offset + size), in rising order from the offset Plan or Restart
    // returned. An offset beyond the previous end skips the bytes between, which is fine only
    // when no needed entry has a byte there. Needed entries go to side files beside their
    // destinations and replace them only once size, CRC-32 and SHA-256 match; everything else is
    // dropped. False on failure: FailedPath() tells which file.
    bool Feed(uint64_t offset, const char* data, size_t size);
    // After a lost connection: the entry under way is dropped (its side file discarded) and the
    // offset to ask for next is returned (its local header offset).
    uint64_t Restart();
    // Waits until every entry whose bytes all arrived is in place (they are replaced on a
    // thread of their own) and tells the record of them. False when one could not be.
    bool Settle();
    // True once every needed entry is committed.
    bool Done() const;
    // For the failure message: the destination path (GBK, full) of the entry that failed.
    const std::string& FailedPath() const;
    // A short English reason for the failure, for a trace line.
    const std::string& FailureReason() const;
    // Bytes of the zip the plan needs, the sum of NeededRanges (for honest progress).
    uint64_t NeededBytes() const;
    // The size of the largest needed entry: the disk must have room for it on top of the game.
    uint64_t LargestNeededEntry() const;
    // False when the folder's drive lacks room for the largest needed entry (after Plan).
    bool HasRoomForLargestEntry() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

#include "package/stream_installer.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include <zlib.h>

#include "components/unzip/Unzip.h"
#include "components/unzip/output_folder.h"
#include "components/unzip/zip_directory.h"
#include "framework/gbk_text.h"
#include "framework/sha256.h"
#include "package/entry_writer.h"
#include "package/install_record.h"

namespace {

// Inflated bytes go through this buffer on their way to the writer: memory stays the same
// whatever the entry's size, and the bytes are still in the processor's cache when copied on.
constexpr size_t kOutputBufferSize = 256 * 1024;

bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A plain file's size and last-write time; false for a folder or a path that is not there.
bool FileSizeAndTime(const std::wstring& path, uint64_t* size, uint64_t* lastWrite) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const FILETIME& written = data.ftLastWriteTime;
    *lastWrite = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    return true;
}

// The installed file already holds the entry's content. With a record, a file whose size and
// time are the recorded ones is not read: hashing a whole game on every update is too slow.
bool IsInstalled(const std::wstring& path, const ManifestEntry& entry, InstallRecord* record) {
    uint64_t size = 0, lastWrite = 0;
    if (!FileSizeAndTime(path, &size, &lastWrite) || size != entry.size) return false;
    const std::string gbkPath = WideToGbk(path);
    std::string sha256 = record ? record->HashIfUnchanged(gbkPath, size, lastWrite) : std::string();
    if (sha256.empty()) {
        if (!FileSha256(path, &sha256)) return false;
        if (record) record->Remember(gbkPath, size, lastWrite, sha256);
    }
    return sha256 == entry.sha256;
}

// zlib's raw-deflate stream for one entry at a time, always ended.
class Inflater {
public:
    Inflater() = default;
    ~Inflater() { End(); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool Begin() {
        End();
        m_stream = z_stream();
        m_open = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK;
        m_ended = false;
        return m_open;
    }
    void End() {
        if (m_open) inflateEnd(&m_stream);
        m_open = false;
    }
    z_stream& Stream() { return m_stream; }
    bool Ended() const { return m_ended; }
    void SetEnded() { m_ended = true; }

private:
    z_stream m_stream = {};
    bool m_open = false;
    bool m_ended = false;
};

}  // namespace

struct StreamInstaller::State {
    State(const PackageManifest& m, std::string gbkFolder)
        : manifest(m),
          folder(std::move(gbkFolder)),
          output(GbkToWide(folder)),
          outBuffer(kOutputBufferSize),
          writer(output, folder) {}

    const ManifestEntry& Current() const { return manifest.entries[needed[next]]; }
    std::wstring FullPath(const ManifestEntry& e) const { return output.FullPath(e.relativePath); }

    bool CanSkip(uint64_t from, uint64_t to);
    bool Fail(const std::string& path, const std::string& reason) {
        failedPath = path;
        failure = reason;
        failed = true;
        inflater.End();
        // Entries checked before the failure are whole files of the new release: they are put
        // in place, and the caller finds the folder as it stays.
        writer.Drop();
        writer.Settle(record);
        return false;
    }
    bool Fail(const ManifestEntry& e, const char* reason) { return Fail(writer.ShownPath(e), reason); }
    bool WriterFailed() { return Fail(writer.FailedPath(), writer.FailureReason()); }
    bool HasRoomFor(uint64_t size);

    bool BeginEntry();
    bool TakeData(const unsigned char* data, size_t size);
    bool Emit(const unsigned char* data, size_t size);
    bool FinishEntry();

    PackageManifest manifest;
    std::string folder;
    InstallRecord* record = nullptr;
    unzip::COutputFolder output;
    std::vector<size_t> needed;   // indexes of the entries to write, in zip order
    size_t next = 0;              // the needed entry under way or next to come
    uint64_t position = 0;        // the zip offset the next Feed starts at
    uint64_t largest = 0;

    // The entry under way.
    bool started = false;
    uint64_t taken = 0;           // its data bytes seen
    uint64_t written = 0;         // its content bytes given to the writer
    Inflater inflater;
    std::vector<unsigned char> outBuffer;
    uint64_t roomLeft = 0;        // free bytes on the drive, as last asked, less what came since

    bool failed = false;
    std::string failedPath;
    std::string failure;
    // Last: it is destroyed first, so everything given to it is written and put in place
    // before the folder goes.
    EntryWriter writer;
};

bool StreamInstaller::State::BeginEntry() {
    const ManifestEntry& e = Current();
    started = true;
    taken = written = 0;
    if (!e.isDirectory && !HasRoomFor(e.size)) return Fail(e, "disk full");
    if (!writer.Begin(e)) return WriterFailed();
    if (e.method == unzip::kMethodDeflate && !e.isDirectory && !inflater.Begin()) return Fail(e, "cannot inflate");
    return true;
}

bool StreamInstaller::State::Emit(const unsigned char* data, size_t size) {
    const ManifestEntry& e = Current();
    // Checked before writing: nothing beyond the declared size reaches the disk.
    if (size > e.size - written) return Fail(e, "data longer than its size");
    if (size == 0) return true;
    if (!writer.Write(data, size)) return WriterFailed();
    written += size;
    return true;
}

bool StreamInstaller::State::TakeData(const unsigned char* data, size_t size) {
    const ManifestEntry& e = Current();
    taken += size;
    if (e.isDirectory) return true;
    if (e.method == unzip::kMethodStored) return Emit(data, size);
    z_stream& z = inflater.Stream();
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<uInt>(size);
    while (z.avail_in > 0) {
        if (inflater.Ended()) return Fail(e, "data after the end of the compressed stream");
        z.next_out = outBuffer.data();
        z.avail_out = static_cast<uInt>(outBuffer.size());
        int result = inflate(&z, Z_NO_FLUSH);
        if (result == Z_STREAM_END) inflater.SetEnded();
        else if (result != Z_OK && result != Z_BUF_ERROR) return Fail(e, "corrupt compressed data");
        if (!Emit(outBuffer.data(), outBuffer.size() - z.avail_out)) return false;
    }
    return true;
}

bool StreamInstaller::State::FinishEntry() {
    const ManifestEntry& e = Current();
    started = false;
    if (!e.isDirectory && e.method == unzip::kMethodDeflate) {
        // The last input may still hold output that did not fit the buffer.
        z_stream& z = inflater.Stream();
        while (!inflater.Ended()) {
            z.next_out = outBuffer.data();
            z.avail_out = static_cast<uInt>(outBuffer.size());
            int result = inflate(&z, Z_NO_FLUSH);
            if (result == Z_STREAM_END) inflater.SetEnded();
            else if (result != Z_OK) return Fail(e, "compressed data ends early");
            if (!Emit(outBuffer.data(), outBuffer.size() - z.avail_out)) return false;
        }
        inflater.End();
    }
    // The writer checks size, CRC-32 and SHA-256 before the entry replaces its destination.
    return writer.End() || WriterFailed();
}

// Asks the drive only when the entry may not fit what it had left: one question per entry
// costs more than the small entries' writes.
bool StreamInstaller::State::HasRoomFor(uint64_t size) {
    if (size > roomLeft) {
        uint64_t free = 0;
        roomLeft = output.FreeBytes(&free) ? free : UINT64_MAX;  // the writes find out otherwise
        if (size > roomLeft) return false;
    }
    roomLeft -= size;
    return true;
}

// True when no needed entry still to come has a byte in [from, to); else the feed fails.
bool StreamInstaller::State::CanSkip(uint64_t from, uint64_t to) {
    for (size_t i = next; i < needed.size(); ++i) {
        const ManifestEntry& e = manifest.entries[needed[i]];
        if (e.localHeaderOffset >= to) break;
        if (e.dataOffset + e.dataLength > from) {
            next = i;  // so the failure names the entry whose bytes are missing
            return Fail(e, "bytes of a needed entry skipped");
        }
    }
    return true;
}

StreamInstaller::StreamInstaller(const PackageManifest& manifest, std::string folder)
    : m_state(new State(manifest, std::move(folder))) {}

StreamInstaller::~StreamInstaller() = default;

void StreamInstaller::UseRecord(InstallRecord* record) { m_state->record = record; }

std::vector<ByteRange> StreamInstaller::NeededRanges() const {
    const State& s = *m_state;
    std::vector<ByteRange> ranges;
    for (size_t i : s.needed) {
        const ManifestEntry& e = s.manifest.entries[i];
        ranges.push_back(ByteRange{e.localHeaderOffset, e.dataOffset + e.dataLength});
    }
    return ranges;
}

uint64_t StreamInstaller::Plan() {
    State& s = *m_state;
    s.needed.clear();
    s.next = 0;
    s.largest = 0;
    s.roomLeft = 0;
    s.started = false;
    s.writer.Drop();
    for (size_t i = 0; i < s.manifest.entries.size(); ++i) {
        const ManifestEntry& e = s.manifest.entries[i];
        std::wstring path = s.FullPath(e);
        if (e.isDirectory ? IsFolder(path) : IsInstalled(path, e, s.record)) continue;
        s.needed.push_back(i);
        s.largest = std::max(s.largest, e.size);
    }
    return s.position = s.needed.empty() ? s.manifest.zipSize : s.Current().localHeaderOffset;
}

bool StreamInstaller::Feed(uint64_t offset, const char* data, size_t size) {
    State& s = *m_state;
    if (s.failed) return false;
    if (offset > s.position && !s.CanSkip(s.position, offset)) return false;
    if (offset < s.position) {
        s.failure = "bytes out of order";
        s.failedPath = s.folder;
        s.failed = true;
        return false;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    s.position = offset + size;
    uint64_t at = offset;
    const uint64_t end = offset + size;
    // Entries without data bytes (folders, empty files) end where they begin: the loop runs
    // while one of them is reachable even after the last byte.
    while (s.next < s.needed.size()) {
        const ManifestEntry& e = s.Current();
        if (!s.started) {
            if (e.dataOffset > end) break;
            at = std::max(at, e.dataOffset);  // headers, gaps and entries not needed are dropped
            if (!s.BeginEntry()) return false;
        }
        size_t piece = static_cast<size_t>(std::min<uint64_t>(end - at, e.dataLength - s.taken));
        if (piece > 0 && !s.TakeData(p + (at - offset), piece)) return false;
        at += piece;
        if (s.taken < e.dataLength) break;
        if (!s.FinishEntry()) return false;
        if (++s.next == s.needed.size()) return Settle();
    }
    return true;
}

bool StreamInstaller::Settle() {
    State& s = *m_state;
    if (!s.writer.Settle(s.record) && !s.failed) return s.WriterFailed();
    return !s.failed;
}

uint64_t StreamInstaller::Restart() {
    State& s = *m_state;
    s.writer.Drop();
    s.inflater.End();
    s.started = false;
    return s.position = s.next < s.needed.size() ? s.Current().localHeaderOffset : s.manifest.zipSize;
}

bool StreamInstaller::Done() const { return !m_state->failed && m_state->next >= m_state->needed.size(); }

const std::string& StreamInstaller::FailedPath() const { return m_state->failedPath; }

const std::string& StreamInstaller::FailureReason() const { return m_state->failure; }

uint64_t StreamInstaller::NeededBytes() const {
    uint64_t bytes = 0;
    for (const ByteRange& range : NeededRanges()) bytes += range.end - range.first;
    return bytes;
}

uint64_t StreamInstaller::LargestNeededEntry() const { return m_state->largest; }

bool StreamInstaller::HasRoomForLargestEntry() const {
    return m_state->output.CheckFreeSpace(m_state->largest) == UNZIP_OK;
}

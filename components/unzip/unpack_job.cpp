#include "components/unzip/unpack_job.h"

#include <windows.h>

#include <cstdint>
#include <memory>

#include "components/unzip/Unzip.h"
#include "components/unzip/archive_file.h"
#include "components/unzip/entry_extractor.h"
#include "components/unzip/entry_layout.h"
#include "components/unzip/entry_name.h"
#include "components/unzip/output_folder.h"
#include "components/unzip/progress_registry.h"
#include "components/unzip/zip_directory.h"

namespace unzip {
namespace {

// Large blocks keep system calls and zlib call overhead small against the copying itself.
constexpr size_t kBufferSize = 1024 * 1024;

struct CPlannedEntry {
    const CZipEntry* entry;
    std::wstring path;
    bool isDirectory;
    uint64_t dataOffset;
};

// Everything that can be judged without writing: names, methods, encryption, where each
// entry lies and that none overlaps another. Any refusal here means nothing at all is written.
int PlanEntries(const CArchiveFile& archive, const CZipDirectory& directory, std::vector<CPlannedEntry>& plan,
                uint64_t& totalBytes) {
    totalBytes = 0;
    std::vector<CEntrySpan> spans;
    for (const CZipEntry& entry : directory.entries) {
        if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedDirectory))
            return UNZIP_E_ENCRYPTED;
        if (entry.method != kMethodStored && entry.method != kMethodDeflate) return UNZIP_E_UNSUPPORTED;
        CPlannedEntry planned{&entry, std::wstring(), false, 0};
        int code = MakeEntryPath(entry, planned.path, planned.isDirectory);
        if (code != UNZIP_OK) return code;
        code = LocateEntryData(archive, directory.directoryOffset, entry, planned.dataOffset);
        if (code != UNZIP_OK) return code;
        spans.push_back({entry.localHeaderOffset, planned.dataOffset + entry.compressedSize});
        // Saturating: absurd declared sizes must not wrap the progress total.
        if (!planned.isDirectory)
            totalBytes = entry.uncompressedSize > UINT64_MAX - totalBytes ? UINT64_MAX
                                                                          : totalBytes + entry.uncompressedSize;
        plan.push_back(std::move(planned));
    }
    return CheckNoOverlap(std::move(spans));
}

int Unpack(const std::wstring& fullPath, CProgressRecord& progress) {
    CArchiveFile archive;
    if (!archive.Open(fullPath)) return UNZIP_E_OPEN;
    CZipDirectory directory;
    int code = ReadZipDirectory(archive, directory);
    if (code != UNZIP_OK) return code;
    std::vector<CPlannedEntry> plan;
    uint64_t nTotal = 0;
    if ((code = PlanEntries(archive, directory, plan, nTotal)) != UNZIP_OK) return code;
    progress.SetTotal(nTotal);

    COutputFolder output(fullPath.substr(0, fullPath.rfind(L'\\') + 1));
    CStreamBuffers buffers(kBufferSize);
    CEntryExtractor extractor(archive, buffers, [&progress](uint64_t bytes) {
        progress.AddDone(bytes);
        return !progress.IsCancelled();
    });
    output.RemoveLeftovers(L"");
    for (const CPlannedEntry& planned : plan) {
        if (progress.IsCancelled()) return UNZIP_E_CANCELLED;
        if (planned.isDirectory) {
            code = output.CreateFolders(planned.path);
        } else {
            size_t nSlash = planned.path.rfind(L'\\');
            std::wstring folder = nSlash == std::wstring::npos ? std::wstring() : planned.path.substr(0, nSlash);
            code = folder.empty() ? UNZIP_OK : output.CreateFolders(folder);
            if (code == UNZIP_OK) output.RemoveLeftovers(folder);
            if (code == UNZIP_OK) code = output.CheckFreeSpace(planned.entry->uncompressedSize);
            if (code == UNZIP_OK)
                code = extractor.Extract(*planned.entry, planned.dataOffset, output.FullPath(planned.path));
        }
        if (code != UNZIP_OK) return code;
    }
    return UNZIP_OK;
}

}  // namespace

bool ArchiveFullPath(const char* gbkPath, std::wstring& fullPath) {
    std::wstring wide;
    if (!gbkPath || !*gbkPath || !DecodeText(gbkPath, kGbkCodePage, wide)) return false;
    DWORD nSize = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (nSize == 0) return false;
    fullPath.assign(nSize, L'\0');
    nSize = GetFullPathNameW(wide.c_str(), nSize, &fullPath[0], nullptr);
    if (nSize == 0 || nSize >= fullPath.size()) return false;
    fullPath.resize(nSize);
    // A path naming a folder has no archive in it.
    return !fullPath.empty() && fullPath.back() != L'\\';
}

int UnpackArchive(const std::wstring& fullPath) {
    std::shared_ptr<CProgressRecord> progress = CProgressRegistry::Begin(fullPath);
    if (!progress) return UNZIP_E_BUSY;
    int code = UNZIP_E_INTERNAL;
    try {
        code = Unpack(fullPath, *progress);
    } catch (const std::bad_alloc&) {
        code = UNZIP_E_NO_MEMORY;
    } catch (...) {
        code = UNZIP_E_INTERNAL;
    }
    CProgressRegistry::End(*progress, code == UNZIP_OK);
    return code;
}

}  // namespace unzip

#include "package/manifest_install.h"

#include <windows.h>

#include <vector>

#include "download/download_messages.h"
#include "download/download_support.h"
#include "download/memory_fetch.h"
#include "download/package_ranges.h"
#include "framework/gbk_text.h"
#include "framework/sha256.h"
#include "framework/trace.h"
#include "package/install_record.h"
#include "package/package_manifest.h"
#include "package/stream_installer.h"

namespace {

ManifestInstall FailChecksum(const std::string& shownPath) {
    ShowDownloadError(FormatText("校验文件%s失败.", shownPath.c_str()));
    return ManifestInstall::Failed;
}

// The folder the archive lies in, where its entries go.
std::string FolderOf(const std::string& archivePath) {
    const size_t slash = archivePath.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : archivePath.substr(0, slash);
}

// Fetches the manifest and takes it only when it is the one the list vouches for and reads
// whole. Installed here means: `manifest` holds it.
ManifestInstall ReadManifest(UpdateTask& task, const ManifestPackage& package, PackageManifest* manifest) {
    const std::string url = package.url + ".manifest";
    std::string bytes;
    int status = 0;
    if (!FetchToMemory(url, task, kManifestMaxBytes, &bytes, &status)) {
        return StopRequested(task) ? ManifestInstall::Stopped : ManifestInstall::Failed;
    }
    if (status == 404) {
        TraceLine("qen: no manifest at %s, the package is downloaded whole", url.c_str());
        return ManifestInstall::NoManifest;
    }
    std::string hash;
    if (!BytesSha256(bytes, &hash) || !SameSha256(hash, package.manifestSha256)) {
        TraceLine("qen: the manifest at %s is not the one the list names", url.c_str());
        return FailChecksum(package.archivePath);
    }
    std::string why;
    if (!ParsePackageManifest(bytes, manifest, &why)) {
        TraceLine("qen: the manifest at %s is refused: %s", url.c_str(), why.c_str());
        return FailChecksum(package.archivePath);
    }
    // A signed list vouches for the package's checksum: the manifest must describe that package.
    if (!package.zipSha256.empty() && !SameSha256(package.zipSha256, manifest->zipSha256)) {
        TraceLine("qen: the manifest at %s describes another package", url.c_str());
        return FailChecksum(package.archivePath);
    }
    return ManifestInstall::Installed;
}

}  // namespace

ManifestInstall InstallThroughManifest(UpdateTask& task, const ManifestPackage& package,
                                       const std::function<void(const char*)>& log,
                                       const std::function<void()>& installed) {
    PackageManifest manifest;
    ManifestInstall read = ReadManifest(task, package, &manifest);
    if (read != ManifestInstall::Installed) return read;

    // Files the updater installed before and nobody touched since are known without reading them.
    InstallRecord record(InstallRecord::DefaultPath());
    record.Load();
    StreamInstaller installer(manifest, FolderOf(package.archivePath));
    installer.UseRecord(&record);
    installer.Plan();
    record.Save();
    // Room for the largest entry's side file on top of the game; the archive needs none.
    if (!RoomToDownload(package.archivePath, installer.LargestNeededEntry(), package.archivePath)) {
        return ManifestInstall::Failed;
    }
    log("下载完毕开始解压");
    const std::vector<ByteRange> ranges = installer.NeededRanges();
    StreamOutcome outcome = StreamOutcome::Complete;
    if (ranges.empty()) {
        // Everything is in place already: no byte of the package is asked for.
        task.dSpeed = 0.0;
        task.fProgress = 1.0f;
    } else {
        outcome = FetchPackageRanges(
            package.url, ranges, manifest.zipSize, installer.NeededBytes(), task,
            [&installer](uint64_t offset, const char* data, size_t size) { return installer.Feed(offset, data, size); },
            [&installer] { return installer.Restart(); });
        // What was committed before an end of any kind is known from now on.
        if (!installer.Settle() && outcome == StreamOutcome::Complete) outcome = StreamOutcome::Failed;
        record.Save();
    }
    switch (outcome) {
        case StreamOutcome::Complete: break;
        case StreamOutcome::Stopped: return ManifestInstall::Stopped;
        case StreamOutcome::NotFound:
            ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回:%d.", package.url.c_str(), 404));
            return ManifestInstall::Failed;
        case StreamOutcome::Failed:
            // The sink refused: an entry did not match what the manifest says it must be.
            if (!installer.FailedPath().empty()) return FailChecksum(installer.FailedPath());
            return ManifestInstall::Failed;
    }
    if (!installer.Done()) {
        TraceLine("qen: %s ended before every entry was installed", package.url.c_str());
        return FailChecksum(package.archivePath);
    }
    task.cPhase = kPhaseUnpacked;
    if (installed) installed();
    log("解压完毕，开始删除文件");
    // An archive an earlier download left would be gone after the unpack of today as well.
    ::DeleteFileW(GbkToWide(package.archivePath).c_str());
    log("删除完毕");
    return ManifestInstall::Installed;
}

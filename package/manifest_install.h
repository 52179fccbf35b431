#pragma once
// The unpack of a package that comes with a manifest: instead of downloading the archive and
// then unpacking it, its entries are installed while its bytes arrive, and the archive never
// lands on disk. The folder ends as the download and unpack would have left it.
#include <functional>
#include <string>

#include "lobby/update_task.h"

// One list entry that downloads a package and unpacks it.
struct ManifestPackage {
    std::string url;             // the package's URL; its manifest is at this URL + ".manifest"
    std::string manifestSha256;  // what the manifest's bytes must hash to
    std::string zipSha256;       // the package's own checksum from the list; empty when none
    std::string archivePath;     // where the archive would have been downloaded (full, GBK)
};

enum class ManifestInstall {
    Installed,   // every entry in place, any old archive gone
    Failed,      // a message was shown
    Stopped,     // the program is closing or the task was cancelled
    NoManifest,  // the server has no manifest (404): the package goes the whole-download road
};

// Installs `package` into the archive's folder. `log` writes a line of the trace file;
// `installed` is told once every entry is in place, before the old archive goes.
ManifestInstall InstallThroughManifest(UpdateTask& task, const ManifestPackage& package,
                                       const std::function<void(const char*)>& log,
                                       const std::function<void()>& installed);

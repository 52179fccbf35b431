#include "package/package_manifest.h"

bool ParsePackageManifest(const std::string& bytes, PackageManifest* manifest, std::string* why)
{
    (void)bytes;
    (void)manifest;
    if (why)
        *why = "not implemented";
    return false;
}

// The exported entry points: C linkage, no exception ever crosses them.
#include "components/unzip/Unzip.h"

#include <new>
#include <string>

#include "components/unzip/progress_registry.h"
#include "components/unzip/unpack_job.h"

extern "C" UNZIP_API int OnUpdateFile(const char* archivePath) {
    try {
        std::wstring fullPath;
        if (!unzip::ArchiveFullPath(archivePath, fullPath)) return UNZIP_E_BAD_ARGUMENT;
        return unzip::UnpackArchive(fullPath);
    } catch (const std::bad_alloc&) {
        return UNZIP_E_NO_MEMORY;
    } catch (...) {
        return UNZIP_E_INTERNAL;
    }
}

extern "C" UNZIP_API float UnzipComplete(const char* archivePath) {
    try {
        std::wstring fullPath;
        if (!unzip::ArchiveFullPath(archivePath, fullPath)) return 0.0f;
        return unzip::CProgressRegistry::Fraction(fullPath);
    } catch (...) {
        return 0.0f;
    }
}

extern "C" UNZIP_API void UnzipCancel(const char* archivePath) {
    try {
        std::wstring fullPath;
        if (unzip::ArchiveFullPath(archivePath, fullPath)) unzip::CProgressRegistry::Cancel(fullPath);
    } catch (...) {
    }
}

#pragma once
// The updater's unpacking library. It loads "Unzip.dll" at run time and finds the two
// functions by name:
//
//   typedef int (*OnUpdateFileFn)(const char*);
//   typedef float (*UnzipCompleteFn)(const char*);
//   typedef void (*UnzipCancelFn)(const char*);   (optional: asks a running unpack to stop)
//
// Archive paths are GBK like every string of the system; a relative path resolves against
// the current directory.

#ifdef UNZIP_BUILD
#define UNZIP_API __declspec(dllexport)
#else
#define UNZIP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Results of OnUpdateFile. Values are stable: callers may log or compare them.
enum {
    UNZIP_OK = 0,
    UNZIP_E_BAD_ARGUMENT = 1,    // NULL or empty path, or a path that is not valid GBK
    UNZIP_E_OPEN = 2,            // the archive cannot be opened
    UNZIP_E_READ = 3,            // reading the archive failed
    UNZIP_E_NOT_ZIP = 4,         // no end-of-central-directory record
    UNZIP_E_BAD_DIRECTORY = 5,   // central directory or a local header is inconsistent
    UNZIP_E_TRUNCATED = 6,       // the archive ends before its records or data do
    UNZIP_E_UNSAFE_NAME = 7,     // an entry name would leave the folder or is not a valid name
    UNZIP_E_UNSUPPORTED = 8,     // compression method other than stored/deflate, or a split archive
    UNZIP_E_ENCRYPTED = 9,       // an entry is encrypted
    UNZIP_E_BAD_DATA = 10,       // the compressed data is corrupt
    UNZIP_E_CRC = 11,            // an entry's CRC-32 does not match its data
    UNZIP_E_DATA_LONGER = 12,    // an entry's data is longer than its declared size
    UNZIP_E_DATA_SHORTER = 13,   // an entry's data is shorter than its declared size
    UNZIP_E_WRITE = 14,          // a folder or file could not be created, written or replaced
    UNZIP_E_DISK_FULL = 15,      // the disk is full, or too full for an entry's declared size
    UNZIP_E_NO_MEMORY = 16,
    UNZIP_E_BUSY = 17,           // the same archive is being unpacked by another call
    UNZIP_E_INTERNAL = 18,       // an unexpected failure; never expected in practice
    UNZIP_E_OVERLAP = 19,        // two entries share bytes, or an entry's data runs into a header
    UNZIP_E_CANCELLED = 20       // UnzipCancel stopped the unpack
};

// Unpacks the zip archive into the folder that holds it, keeping the entries' sub-folders and
// replacing existing files. Entry names and the entries' places in the archive are checked
// before anything is written: if a name is unsafe (absolute, with a drive, UNC, a ".." part,
// control characters) or two entries overlap, nothing is written. Before each file its
// declared size is compared with the free space of the target drive. Each file is written
// under a temporary name and renamed only once its size and CRC-32 are right, so a failed
// entry never leaves a complete-looking file; the temporary file goes away with the process
// too, however it ends, and one that an earlier unpack left behind all the same (ended inside
// a commit, or a power loss) is deleted from every folder this unpack writes to. Entries
// before a failed one stay unpacked. Returns UNZIP_OK or one of the codes above.
UNZIP_API int OnUpdateFile(const char* archivePath);

// The fraction (0.0 to 1.0) of the archive's uncompressed bytes written so far by OnUpdateFile
// for that path (compared without regard to case). 0.0 before unpacking starts, 1.0 after it
// succeeded, the fraction reached after it failed. Safe to call from any thread at any time.
UNZIP_API float UnzipComplete(const char* archivePath);

// Asks the OnUpdateFile running for that path (same comparison) to stop soon; it then returns
// UNZIP_E_CANCELLED and leaves no temporary file. Nothing happens when none runs. Safe to
// call from any thread at any time.
UNZIP_API void UnzipCancel(const char* archivePath);

#ifdef __cplusplus
}
#endif

#pragma once
// The lobby's configuration library: reads INI-text files such as "kvgame.kcf".
//
//   [GameSet]
//   UpdateSetPort=6123
//
// Section and key names compare case-insensitively; blanks around names and values are
// ignored; lines starting with ';' or '#' are comments. All texts are GBK.
// The functions are safe to call from several threads at once.

#ifdef CFGENGINE_BUILD
#define CFGENGINE_API __declspec(dllexport)
#else
#define CFGENGINE_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Handles below this value are never given out; callers treat them as failure.
enum { CFG_FIRST_HANDLE = 16 };

// Reads the whole file (a relative name is relative to the current directory) and returns a
// handle of CFG_FIRST_HANDLE or more. Returns 0 when the file can't be opened or read, or is
// larger than 16 MiB. `second` is not used and may be NULL or empty.
CFGENGINE_API unsigned long cfgOpenFile(const char *file, const char *second);

// The integer value of `key` in `section`: optional sign and decimal digits that fit an int,
// nothing else (no hex, no trailing text or inline comment). Returns `defaultValue` when the
// handle is unknown or closed, the section or key is missing, or the value is not such an
// integer. If a key occurs twice in a section, the first occurrence counts.
CFGENGINE_API int cfgGetValue(unsigned long handle, const char *section, const char *key,
                              int defaultValue);

// Frees the handle. Unknown or already closed handles are ignored.
CFGENGINE_API void cfgClose(unsigned long handle);

#ifdef __cplusplus
}
#endif

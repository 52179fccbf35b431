#pragma once
// What tells one version of a served file from another: an entity tag and a Last-Modified
// date, and the If-Range rule that lets a client resume only the version it already has.
#include <windows.h>

#include <cstdint>
#include <string>

namespace updsrv {

// "\"<write time>-<size>\"" in hexadecimal: changes whenever the file is rewritten or resized.
std::string EntityTag(uint64_t nSize, const FILETIME& written);

// The write time as an HTTP date.
std::string LastModified(const FILETIME& written);

// A Range may be honoured: there is no If-Range, or it names this very version (the entity
// tag exactly, or the Last-Modified date exactly).
bool IfRangeHolds(const std::string* ifRange, const std::string& entityTag, const std::string& lastModified);

}  // namespace updsrv

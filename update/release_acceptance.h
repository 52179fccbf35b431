#pragma once
// The updater's side of the "[release]" rules: the verdict on a signed update file, its
// message, and the serial recorded once the file is accepted.
#include <string>

#include "update/release_check.h"

// The error box for a refused file fetched from `url`.
void ShowReleaseRefusal(ReleaseVerdict verdict, const std::string& url);

// For a signed update file fetched from `url` whose bytes hash to `sha256Hex` (lower-case):
// decides against the serials beside the updater and the clock, and records the serial when
// the file is accepted. Shows its own message; false ends the task.
bool AcceptRelease(const std::string& url, const ReleaseInfo& info, const std::string& sha256Hex);

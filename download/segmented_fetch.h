#pragma once
// Fills a side file over several connections at once, each asking for its own ranges and
// writing them at their offsets: a server that caps each connection gives more to several.
// One connection starts; more are added one at a time while each raises the total rate by a
// tenth; a connection that runs out of work takes the second half of the piece with the most
// left. Every answer must come from the version the first one did (If-Range and its
// validator). The record beside the side file vouches for every piece flushed, once a second.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "download/side_file.h"
#include "framework/http_request.h"
#include "lobby/update_task.h"

enum class SegmentedOutcome {
    Complete,    // every byte is in the side file and on the disk
    ReadFailed,  // a connection was lost: the record holds what arrived, the caller tries again
    Changed,     // an answer came from another version of the file: the side file must start over
    Failed,      // ended with a message (or a stop)
};

enum class SendResult { Sent, ReadFailed, Failed };

struct SegmentedSource {
    std::string url;       // where the requests go (redirects already followed)
    std::string shownUrl;  // the URL messages name
    std::string path;      // the destination; the side file is beside it
    SideFileInfo record;   // what the side file is fetched against; `held` is what it already holds
    // Sends one request; a Failed one has shown its message.
    std::function<SendResult(const HttpRequestOptions&, HttpRequest*, DWORD*)> send;
    // Told the total rate in KB/s and the bytes held, a few times a second.
    std::function<void(double, uint64_t)> progress;
};

// Connections opened at most: the default, and the most an override may ask for.
constexpr int kDefaultConnections = 6;
constexpr int kMostConnections = 8;

// The connection limit: kDefaultConnections, or UPDATER_CONNECTIONS (1 to kMostConnections).
int ConnectionLimit();

// Runs until the side file is whole, a connection is lost, the file changes, or a stop.
// `readError` tells why a connection was lost; `held` the bytes held at the end.
SegmentedOutcome FetchSegmented(const SegmentedSource& source, UpdateTask& task, DWORD* readError, uint64_t* held);

#pragma once
// What the package stream and the range fetch share: the tries and their pacing, the request
// with its If-Range, the validator, and the progress. A fetch says how one connection goes;
// this runs connections until it ends.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <string>

#include "download/body_reader.h"
#include "download/download_support.h"
#include "download/package_stream.h"
#include "framework/http_request.h"
#include "lobby/update_task.h"

class PackageFetch {
public:
    PackageFetch(const std::string& url, uint64_t zipSize, uint64_t neededBytes, UpdateTask& task,
                 const std::function<bool(uint64_t, const char*, size_t)>& sink,
                 const std::function<uint64_t()>& restart)
        : m_url(url), m_zipSize(zipSize), m_needed(neededBytes), m_task(task), m_sink(sink), m_restart(restart) {}
    virtual ~PackageFetch() = default;

protected:
    enum class Pass {
        Complete,    // everything asked for was handed on
        Failed,      // a message was shown, or the sink refused
        ReadFailed,  // a lost connection: taken up again after a paced wait
        Stopped,
        NotFound,
        AskAgain,    // the answer was of no use, the next request will be another: at once, not a try
    };

    // Runs connections until one completes or the fetch ends.
    StreamOutcome RunTries();
    // One connection on `session`; ReadFailed sets `readError`.
    virtual Pass OneConnection(HINTERNET session, DWORD* readError) = 0;
    // After a lost connection: the receiver's offset to go on from (restart()) is `offset`.
    virtual void TakeUpAt(uint64_t offset) = 0;

    // Sends a GET with `rangeHeader` ("bytes=...") and If-Range once a validator is known.
    Pass Send(HINTERNET session, const std::string& rangeHeader, HttpRequest* sent, DWORD* readError);
    // The manifest describes another file than the server has now.
    Pass PackageChanged();
    // Any status but 200 and 206, or a body not where it was asked.
    Pass UnexpectedStatus(int status);
    Pass WrongOffset();
    // Keeps the first answer's validator; false (traced) when a later answer names another.
    bool SameValidator(HINTERNET request);
    // The next piece of the body into m_reader (`*got` 0 at its end): Complete, or Stopped, or
    // ReadFailed with `readError`.
    Pass NextPiece(HINTERNET request, DWORD* got, DWORD* readError);
    // Hands bytes to the sink and counts them.
    bool HandOn(uint64_t at, const char* data, size_t size);
    // Speed of this try and progress of the whole; the row's size.
    void ShowProgress(DWORD startTick);
    // The same with the speed (KB/s) measured by the caller.
    void ShowProgressAt(double speedKb);
    void ShowDone();

    const std::string& m_url;
    const uint64_t m_zipSize;
    const uint64_t m_needed;
    UpdateTask& m_task;
    BodyReader m_reader;

private:
    bool CountTry();

    const std::function<bool(uint64_t, const char*, size_t)>& m_sink;
    const std::function<uint64_t()>& m_restart;
    RetryPacer m_pacer;
    std::string m_validator;  // of the first answer; later answers must come from the same file
    uint64_t m_fetched = 0;   // bytes handed on, for the progress
    uint64_t m_thisTry = 0;   // bytes handed on by this connection, for the speed
    uint64_t m_reached = 0;   // the furthest offset any try handed on
    uint64_t m_best = 0;      // m_reached when the last try that got further ended
    int m_fruitless = 0;
    bool m_bWrote = false;    // the last try handed bytes on
    int m_shownSize = -1;
};


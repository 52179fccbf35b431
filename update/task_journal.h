#pragma once
// How far an update list has run, kept beside the program, so that a run cut short (closed,
// killed, power lost, failed) goes on where it stopped when the same list comes again.
// There is one journal per list URL, so another game's task in between changes nothing; a
// list with other bytes at the same URL starts from its top and takes the journal over.
// Every step replaces the file whole, flushed, so after any interruption it holds the state
// before or after that step, never a mix.
//
// The file "updater-<URL>.journal" (the URL as the first 16 hex digits of its SHA-256), GBK
// text with CR LF lines:
//   list=<SHA-256 of the list's bytes, 64 lower-case hex digits>
//   done=<n>        entries 0 .. n-1 have run to their end
//   fetched=<0|1>   1: entry n's download has completed, its command has not
#include <string>

// The key a list is known by: the SHA-256 of its bytes; empty when the platform can't hash.
std::string UpdateListKey(const std::string& listBytes);

// The journal of the list fetched from `listUrl`, in the program file's folder.
std::string TaskJournalPath(const std::string& listUrl);

class TaskJournal {
public:
    // Takes up the journal of the list `listKey` fetched from `listUrl`, or starts one for it
    // from its top. With an empty key the journal remembers and writes nothing: every entry runs.
    TaskJournal(const std::string& listUrl, std::string listKey);

    // The entry ran to its end in an earlier run of this list: it is skipped.
    bool IsDone(int index) const { return index < m_done; }
    // An earlier run of this list was cut short inside this entry.
    bool WasInterruptedIn(int index) const { return m_bResumed && index == m_done; }
    // ... after the entry's download had completed: the download is not run again.
    bool IsFetched(int index) const { return WasInterruptedIn(index) && m_bFetched; }

    void MarkFetched(int index);
    // The entry's command failed: its download is fetched again next time.
    void ForgetFetched(int index);
    void MarkDone(int index);
    // The list reached its end marker: nothing is left to resume, the journal goes.
    void Finish();

private:
    void Write();

    std::string m_path;
    std::string m_key;
    int m_done = 0;
    bool m_bFetched = false;
    bool m_bResumed = false;  // the journal found at the start was this list's
};

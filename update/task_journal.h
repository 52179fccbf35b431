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
//   unpacked=<0|1>  1: entry n's unpack has completed (written before its archive goes)
//   reentry=<m>     entries n .. m-1 ran before and run again: a failed unpack sent the
//                   journal back to the entry that fetched its archive (0: none)
// The last two lines came later; a journal without them reads as 0 for both.
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
    // ... after the entry's unpack had completed: neither its download nor its unpack runs again.
    bool IsUnpacked(int index) const { return WasInterruptedIn(index) && m_bUnpacked; }
    // The entry may have taken effect in an earlier run: the one that was cut short, or one
    // between an archive's download and its failed unpack, which run again together.
    bool MayHaveRun(int index) const { return WasInterruptedIn(index) || (index >= m_done && index < m_reentry); }

    void MarkFetched(int index);
    // The entry's command failed: its download is fetched again next time.
    void ForgetFetched(int index);
    // The entry's unpack completed; its archive may go now.
    void MarkUnpacked(int index);
    // The unpack of entry `index` failed on the archive that entry `fetcher` downloaded: the
    // next run starts again at `fetcher`, and the entries up to `index` may have run.
    void SendBackTo(int fetcher, int index);
    void MarkDone(int index);
    // The list reached its end marker: nothing is left to resume, the journal goes.
    void Finish();

private:
    void Write();

    std::string m_path;
    std::string m_key;
    int m_done = 0;
    bool m_bFetched = false;
    bool m_bUnpacked = false;
    int m_reentry = 0;
    bool m_bResumed = false;  // the journal found at the start was this list's
};

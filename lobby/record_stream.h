#pragma once
// Cuts a link's byte stream back into whole 1228-byte records: TCP keeps no block boundaries,
// so one read may hold part of a record or several records. On the lobby link, bytes that do
// not form a request put the stream out of step; they are dropped so that reading realigns.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "lobby/update_record.h"

class RecordAssembler {
public:
    using RecordHandler = std::function<void(const char* record, int length)>;
    // Whether a whole record is one the reader can take.
    using Acceptance = bool (*)(const sUpdateStruct& record);

    // Bytes of an unfinished record that wait longer than this for the rest are dropped.
    static constexpr uint32_t kStaleMs = 1000;

    // Without an acceptance, every 1228 bytes are a record and nothing is ever dropped.
    RecordAssembler() = default;
    // With one, the stream realigns: see Feed.
    explicit RecordAssembler(Acceptance accept) : m_accept(accept) {}

    // Hands every record completed by this block to `onRecord`, in order. `nowMs` is the
    // block's arrival (GetTickCount). A record that is not accepted is dropped with whatever
    // else is held; a record begun in an earlier block is then read afresh from this block's
    // start, and one inside this block takes the rest of the block with it. Held bytes that
    // waited longer than kStaleMs are dropped before this block is read.
    void Feed(const char* data, size_t length, uint32_t nowMs, const RecordHandler& onRecord);
    // Plain framing, for an assembler without an acceptance.
    void Feed(const char* data, size_t length, const RecordHandler& onRecord) { Feed(data, length, 0, onRecord); }

    // Bytes of an unfinished record held back.
    size_t Pending() const { return m_nPending; }

    // Drops an unfinished record (the connection ended in the middle of it).
    void Reset() { m_nPending = 0; }

private:
    bool Accepts(const char* bytes) const;

    Acceptance m_accept = nullptr;
    char m_buffer[kRecordSize] = {};
    size_t m_nPending = 0;
    uint32_t m_dwLastArrival = 0;  // of the bytes held back
};

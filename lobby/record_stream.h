#pragma once
// Cuts the lobby link's byte stream back into whole 1228-byte records: TCP keeps no block
// boundaries, so one read may hold part of a record or several records.
#include <cstddef>
#include <functional>

#include "lobby/update_record.h"

class RecordAssembler {
public:
    using RecordHandler = std::function<void(const char* record, int length)>;

    // Hands every record completed by these bytes to `onRecord`, in order.
    void Feed(const char* data, size_t length, const RecordHandler& onRecord);

    // Bytes of an unfinished record held back.
    size_t Pending() const { return m_nPending; }

    // Drops an unfinished record (the connection ended in the middle of it).
    void Reset() { m_nPending = 0; }

private:
    char m_buffer[kRecordSize] = {};
    size_t m_nPending = 0;
};

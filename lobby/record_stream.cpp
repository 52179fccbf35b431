#include "lobby/record_stream.h"

#include <cstring>

void RecordAssembler::Feed(const char* data, size_t length, const RecordHandler& onRecord) {
    while (length > 0) {
        if (m_nPending == 0 && length >= kRecordSize) {
            // Whole records straight from the caller's buffer, without a copy.
            onRecord(data, kRecordSize);
            data += kRecordSize;
            length -= kRecordSize;
            continue;
        }
        size_t take = kRecordSize - m_nPending;
        if (take > length) take = length;
        std::memcpy(m_buffer + m_nPending, data, take);
        m_nPending += take;
        data += take;
        length -= take;
        if (m_nPending == kRecordSize) {
            m_nPending = 0;
            onRecord(m_buffer, kRecordSize);
        }
    }
}

#include "lobby/record_stream.h"

#include <cstring>

#include "framework/trace.h"

namespace {

void TraceDropped(size_t bytes, const char* why) {
    TraceLine("qen: lobby link out of step, %u bytes dropped (%s)", static_cast<unsigned>(bytes), why);
}
}  // namespace

bool RecordAssembler::Accepts(const char* bytes) const {
    if (m_accept == nullptr) return true;
    sUpdateStruct record;
    std::memcpy(&record, bytes, sizeof record);
    return m_accept(record);
}

void RecordAssembler::Feed(const char* data, size_t length, uint32_t nowMs, const RecordHandler& onRecord) {
    if (m_accept != nullptr && m_nPending > 0 && nowMs - m_dwLastArrival > kStaleMs) {
        TraceDropped(m_nPending, "an unfinished record waited too long");
        m_nPending = 0;
    }
    m_dwLastArrival = nowMs;
    size_t offset = 0;
    while (offset < length) {
        if (m_nPending > 0) {
            // Only the first record of a block can have begun in an earlier one.
            const size_t held = m_nPending;
            size_t take = kRecordSize - held;
            if (take > length) take = length;
            std::memcpy(m_buffer + held, data, take);
            m_nPending += take;
            offset = take;
            if (m_nPending < kRecordSize) return;
            m_nPending = 0;
            if (Accepts(m_buffer)) {
                onRecord(m_buffer, kRecordSize);
                continue;
            }
            // What was held was out of step; this block may well start a record of its own.
            TraceDropped(held, "not a request");
            offset = 0;
            continue;
        }
        const size_t left = length - offset;
        if (left < kRecordSize) {
            std::memcpy(m_buffer, data + offset, left);
            m_nPending = left;
            return;
        }
        if (!Accepts(data + offset)) {
            TraceDropped(left, "not a request");
            return;
        }
        // Whole records straight from the caller's buffer, without a copy.
        onRecord(data + offset, kRecordSize);
        offset += kRecordSize;
    }
}

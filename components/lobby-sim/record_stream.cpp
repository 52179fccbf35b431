#include "record_stream.h"

#include <cstring>

namespace lobbysim {

std::vector<sUpdateStruct> CRecordAssembler::Feed(const char* data, size_t size) {
    std::vector<sUpdateStruct> records;
    m_strPending.append(data, size);
    size_t nUsed = 0;
    while (m_strPending.size() - nUsed >= static_cast<size_t>(kRecordSize)) {
        sUpdateStruct record;
        std::memcpy(&record, m_strPending.data() + nUsed, kRecordSize);
        records.push_back(record);
        nUsed += kRecordSize;
    }
    m_strPending.erase(0, nUsed);
    return records;
}

}  // namespace lobbysim

#pragma once
// Cuts a TCP byte stream back into 1228-byte records: TCP keeps no message boundaries.
#include <string>
#include <vector>

#include "lobby/update_record.h"

namespace lobbysim {

class CRecordAssembler {
public:
    // Appends received bytes and returns the records they complete, in order.
    std::vector<sUpdateStruct> Feed(const char* data, size_t size);

    // Bytes of a record not yet complete.
    size_t PendingBytes() const { return m_strPending.size(); }

private:
    std::string m_strPending;
};

}  // namespace lobbysim

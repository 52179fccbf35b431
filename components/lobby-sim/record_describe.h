#pragma once
// One readable line (UTF-8) for each record the simulated lobby receives.
#include <string>
#include <vector>

#include "lobby/update_record.h"

namespace lobbysim {

// A GBK field as a quoted UTF-8 text; quotes, backslashes and control characters escaped.
std::string QuoteGbk(const std::string& gbk);

struct RecordVerdict {
    std::string strLine;  // "received task-ended report (cCmd 0) game 42 ...", no prefix or newline
    bool bFaulty = false;
};

// A report must be the bytes of a request the lobby sent with byte 0 set to 0; a start-game-room
// request must be zero apart from cCmd and the game id; no other cCmd is expected.
RecordVerdict DescribeRecord(const sUpdateStruct& record, const std::vector<sUpdateStruct>& vecRequests);

}  // namespace lobbysim

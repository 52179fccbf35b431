#include "lobby/update_record.h"

#include <cstring>

namespace {
template <size_t N>
bool IsTerminated(const char (&field)[N]) {
    for (size_t i = 0; i < N; ++i) {
        if (field[i] == '\0') return true;
    }
    return false;
}
}  // namespace

bool IsAcceptableRequest(const sUpdateStruct& record) {
    return record.cCmd == kCmdRequest && IsTerminated(record.szGameName) && IsTerminated(record.szUrl) &&
           IsTerminated(record.szConfigKey) && record.szUrl[0] != '\0';
}

sUpdateStruct MakeTaskEndedReport(const sUpdateStruct& request) {
    sUpdateStruct report;
    std::memcpy(&report, &request, sizeof report);
    report.cCmd = kCmdTaskEnded;
    return report;
}

sUpdateStruct MakeStartGameRoomRequest(int32_t nGameID) {
    sUpdateStruct request;
    std::memset(&request, 0, sizeof request);
    request.cCmd = kCmdStartGameRoom;
    request.nGameID = nGameID;
    return request;
}

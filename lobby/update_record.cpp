#include "lobby/update_record.h"

#include <cstring>

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

#include "lobby/update_record.h"

#include <cstring>

namespace {
// Text that ends inside its field and holds no control byte: GBK text never does (its second
// bytes start at 0x40), while a record read out of step puts binary fields (the game id) there.
template <size_t N>
bool IsText(const char (&field)[N]) {
    for (size_t i = 0; i < N; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (c == '\0') return true;
        if (c < 0x20 || c == 0x7F) return false;
    }
    return false;
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *prefix) return false;
    }
    return true;
}

// The update URL file is fetched over http or https: any other start is no update URL.
bool IsHttpUrl(const char* text) { return StartsWithNoCase(text, "http://") || StartsWithNoCase(text, "https://"); }
}  // namespace

bool IsAcceptableRequest(const sUpdateStruct& record) {
    return IsText(record.szGameName) && IsText(record.szUrl) && IsText(record.szConfigKey) &&
           IsHttpUrl(record.szUrl);
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

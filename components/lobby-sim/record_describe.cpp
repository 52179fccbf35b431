#include "record_describe.h"

#include <cstdio>
#include <cstring>

#include "text_convert.h"

namespace lobbysim {
namespace {

const unsigned char* Bytes(const sUpdateStruct& record) {
    return reinterpret_cast<const unsigned char*>(&record);
}

std::string TextFields(const sUpdateStruct& record) {
    return " " + QuoteGbk(FieldText(record.szGameName)) + " url " + QuoteGbk(FieldText(record.szUrl)) +
           " key " + QuoteGbk(FieldText(record.szConfigKey));
}

// -1 when equal from byte 1 on; else the first differing offset.
int FirstDifferenceAfterCmd(const sUpdateStruct& a, const sUpdateStruct& b) {
    for (int i = 1; i < kRecordSize; ++i)
        if (Bytes(a)[i] != Bytes(b)[i]) return i;
    return -1;
}

std::string CompareWithRequests(const sUpdateStruct& report, const std::vector<sUpdateStruct>& vecRequests,
                                bool& bFaulty) {
    int nFirstDiff = -1;
    for (const sUpdateStruct& request : vecRequests) {
        if (request.nGameID != report.nGameID) continue;
        int nDiff = FirstDifferenceAfterCmd(report, request);
        if (nDiff < 0) return ", matches the request sent except cCmd";
        if (nFirstDiff < 0) nFirstDiff = nDiff;
    }
    bFaulty = true;
    if (nFirstDiff < 0) return ", FAULTY: no request was sent for this game";
    return ", FAULTY: differs from the request sent at byte " + std::to_string(nFirstDiff);
}

std::string CheckZeroRest(const sUpdateStruct& record, bool& bFaulty) {
    for (int i = 1; i < kRecordSize; ++i) {
        if (i >= 4 && i < 8) continue;  // nGameID
        if (Bytes(record)[i] != 0) {
            bFaulty = true;
            return ", FAULTY: byte " + std::to_string(i) + " is not zero";
        }
    }
    return ", reserved bytes and the 1220 bytes after the game id all zero";
}

}  // namespace

std::string QuoteGbk(const std::string& gbk) {
    std::wstring escaped;
    for (wchar_t c : GbkToWide(gbk)) {
        if (c == L'"' || c == L'\\') {
            escaped += L'\\';
            escaped += c;
        } else if (c < 0x20 || c == 0x7F) {
            wchar_t hex[8];
            swprintf(hex, 8, L"\\x%02X", static_cast<unsigned>(c));
            escaped += hex;
        } else {
            escaped += c;
        }
    }
    return "\"" + WideToUtf8(escaped) + "\"";
}

RecordVerdict DescribeRecord(const sUpdateStruct& record, const std::vector<sUpdateStruct>& vecRequests) {
    RecordVerdict verdict;
    const std::string strGame = " game " + std::to_string(record.nGameID);
    switch (record.cCmd) {
        case kCmdTaskEnded:
            verdict.strLine = "received task-ended report (cCmd 0)" + strGame + TextFields(record) +
                              CompareWithRequests(record, vecRequests, verdict.bFaulty);
            break;
        case kCmdStartGameRoom:
            verdict.strLine = "received start-game-room request (cCmd 3)" + strGame +
                              CheckZeroRest(record, verdict.bFaulty);
            break;
        default:
            verdict.strLine = "received record of unknown kind (cCmd " + std::to_string(record.cCmd) + ")" +
                              strGame + TextFields(record) + ", FAULTY: the updater sends only cCmd 0 and 3";
            verdict.bFaulty = true;
            break;
    }
    return verdict;
}

}  // namespace lobbysim

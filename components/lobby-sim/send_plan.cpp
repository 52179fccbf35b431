#include "send_plan.h"

namespace lobbysim {

std::vector<SendPiece> BuildSendPlan(const SimOptions& options) {
    std::vector<SendPiece> plan;
    const auto& records = options.vecRequests;
    if (records.empty()) return plan;

    if (options.nChunk == 0 && !options.bCoalesce) {
        int nAt = options.nDelayMs;
        for (const sUpdateStruct& record : records) {
            SendPiece piece;
            piece.nAtMs = nAt;
            piece.bytes.assign(reinterpret_cast<const char*>(&record), sizeof record);
            piece.vecCompleted.push_back(record.nGameID);
            plan.push_back(std::move(piece));
            nAt += options.nGapMs;
        }
        return plan;
    }

    std::string stream;
    for (const sUpdateStruct& record : records)
        stream.append(reinterpret_cast<const char*>(&record), sizeof record);
    const size_t nPiece = options.bCoalesce ? stream.size() : static_cast<size_t>(options.nChunk);
    int nAt = options.nDelayMs;
    for (size_t begin = 0; begin < stream.size(); begin += nPiece) {
        SendPiece piece;
        piece.nAtMs = nAt;
        piece.bytes = stream.substr(begin, nPiece);
        size_t end = begin + piece.bytes.size();
        // Record i ends at byte (i + 1) * 1228 of the stream.
        for (size_t i = begin / kRecordSize; i < records.size(); ++i) {
            size_t recordEnd = (i + 1) * kRecordSize;
            if (recordEnd > begin && recordEnd <= end) piece.vecCompleted.push_back(records[i].nGameID);
        }
        plan.push_back(std::move(piece));
        nAt += kChunkPauseMs;
    }
    return plan;
}

}  // namespace lobbysim

#pragma once
// The order and timing of what the simulator sends, worked out before the connection.
#include <cstdint>
#include <string>
#include <vector>

#include "sim_options.h"

namespace lobbysim {

// Pause between the pieces of a --chunk delivery.
constexpr int kChunkPauseMs = 20;

struct SendPiece {
    int nAtMs = 0;                       // time after the connection at which to send
    std::string bytes;                   // one send call
    std::vector<int32_t> vecCompleted;   // games whose record ends in this piece
};

std::vector<SendPiece> BuildSendPlan(const SimOptions& options);

}  // namespace lobbysim

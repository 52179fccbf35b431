#pragma once
// Command line of the lobby simulator and the request records it sends. No sockets here.
#include <cstdint>
#include <string>
#include <vector>

#include "lobby/update_record.h"

namespace lobbysim {

// Exit statuses: each says why the simulator stopped.
enum SimExit {
    kExitOk = 0,            // the --exit-on condition was met
    kExitError = 1,         // usage or socket error
    kExitTimeout = 2,       // --timeout passed first
    kExitDisconnected = 3,  // the updater disconnected before the condition
    kExitFaultyRecord = 4,  // the condition was met, but a received record was faulty
};

// cCmd of the records the simulated lobby sends; the updater carries it without looking.
constexpr uint8_t kCmdLobbyRequest = 1;

enum class ExitOn { Disconnect, StartGameRoom, Reports, Sent };

struct SimOptions {
    bool bHelp = false;
    int nPort = 0;  // 0: read from kvgame.kcf
    std::vector<sUpdateStruct> vecRequests;
    int nChunk = 0;  // 0: one send per record
    bool bCoalesce = false;
    int nDelayMs = 200;
    int nGapMs = 0;
    int nLingerMs = 500;
    ExitOn exitOn = ExitOn::Disconnect;
    int nReports = 0;  // with ExitOn::Reports
    int nTimeoutS = 60;
    std::wstring strDumpDir;  // empty: no dump
};

extern const char kUsage[];

// "ID,NAME,URL,KEY": the id runs to the first comma, the key starts after the last one and the
// name ends at the second, so only the URL may contain commas. Texts are converted to GBK.
bool ParseRequestArgument(const std::wstring& argument, sUpdateStruct& record, std::string& error);

// args without the program name. On failure `error` says what is wrong, in UTF-8.
bool ParseSimArgs(const std::vector<std::wstring>& args, SimOptions& options, std::string& error);

// "a start-game-room request", "2 task-ended reports", ...
std::string DescribeExitCondition(const SimOptions& options);

}  // namespace lobbysim

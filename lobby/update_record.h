#pragma once
// The 1228-byte record that the lobby and the updater exchange in both directions.
#include <cstddef>
#include <cstdint>
#include <string>

#pragma pack(push, 1)
struct sUpdateStruct {
    uint8_t cCmd;             // 0: task-ended report, 3: start-game-room request; carried as-is from the lobby
    uint8_t reserved[3];      // copied through in reports, zero in records built from scratch
    int32_t nGameID;          // little-endian; key of the duplicate check
    char szGameName[200];     // GBK, NUL-terminated inside the field
    char szUrl[1000];         // update URL file of the game
    char szConfigKey[20];     // key looked up in section "config" of the update URL file
};
#pragma pack(pop)

constexpr int kRecordSize = 1228;

static_assert(sizeof(sUpdateStruct) == kRecordSize, "wire record must be 1228 bytes");
static_assert(offsetof(sUpdateStruct, cCmd) == 0, "cCmd offset");
static_assert(offsetof(sUpdateStruct, reserved) == 1, "reserved offset");
static_assert(offsetof(sUpdateStruct, nGameID) == 4, "nGameID offset");
static_assert(offsetof(sUpdateStruct, szGameName) == 8, "szGameName offset");
static_assert(offsetof(sUpdateStruct, szUrl) == 208, "szUrl offset");
static_assert(offsetof(sUpdateStruct, szConfigKey) == 1208, "szConfigKey offset");

enum : uint8_t {
    kCmdTaskEnded = 0,
    kCmdRequest = 1,  // what the lobby sends for a game to install or update
    kCmdStartGameRoom = 3,
};

// Text of a fixed-width field, never read past the field even without a terminator.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    size_t len = 0;
    while (len < N && field[len] != '\0') ++len;
    return std::string(field, len);
}

// Copies text into a fixed-width field, cut so the terminator always fits.
template <size_t N>
void SetFieldText(char (&field)[N], const std::string& text) {
    size_t len = text.size() < N - 1 ? text.size() : N - 1;
    for (size_t i = 0; i < N; ++i) field[i] = i < len ? text[i] : '\0';
}

// The intake takes a record as a request when every text field is text that ends inside its
// width (no control bytes) and the update URL starts "http://" or "https://", whatever its cCmd: the
// lobby's command byte is carried, never interpreted (a lobby may well send a zero-initialised
// record). Anything else on the link means it is out of step.
bool IsAcceptableRequest(const sUpdateStruct& record);

// The task-ended report: the record as received with byte 0 set to 0, every other byte unchanged.
sUpdateStruct MakeTaskEndedReport(const sUpdateStruct& request);

// The start-game-room request: all zero except cCmd 3 and the game's id.
sUpdateStruct MakeStartGameRoomRequest(int32_t nGameID);

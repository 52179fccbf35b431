#include "sim_options.h"

#include <cstring>

#include "text_convert.h"

namespace lobbysim {

const char kUsage[] =
    "usage: lobby-sim [options]\n"
    "Stands in for the lobby: listens on 127.0.0.1, accepts one connection from the updater,\n"
    "sends the request records, prints every 1228-byte record received, and exits.\n"
    "\n"
    "  --port N               listen on port N (default: GameSet/UpdateSetPort of kvgame.kcf\n"
    "                         in the current directory, 6123 if missing)\n"
    "  --request ID,NAME,URL,KEY\n"
    "                         send a request record (cCmd 1); repeatable, sent in order.\n"
    "                         Only the URL may contain commas.\n"
    "  --delay-ms N           wait N ms after the connection before sending (default 200)\n"
    "  --gap-ms N             wait N ms between records (default 0)\n"
    "  --chunk N              send the records back to back in pieces of N bytes, 20 ms apart\n"
    "  --coalesce             send all records in one send\n"
    "  --exit-on WHAT         disconnect (default): exit 0 when the updater disconnects\n"
    "                         start-game-room: exit 0 after a cCmd 3 record\n"
    "                         reports:N: exit 0 after N task-ended reports (cCmd 0)\n"
    "                         sent: exit 0 once everything is sent and --linger-ms passed\n"
    "  --linger-ms N          with --exit-on sent (default 500)\n"
    "  --timeout S            give up after S seconds (default 60)\n"
    "  --dump DIR             write each received record to DIR\\recv-001.bin, recv-002.bin, ...\n"
    "  --help                 this text\n"
    "\n"
    "Exit status: 0 condition met, 1 usage or socket error, 2 timeout,\n"
    "3 updater disconnected before the condition, 4 condition met but a received record was\n"
    "faulty (a report that is not a sent request with cCmd 0, a start-game-room request with\n"
    "other bytes set, or an unknown cCmd).\n";

namespace {

// Decimal digits only, with an optional '-' when min is negative.
bool ParseNumber(const std::wstring& text, long long min, long long max, long long& value) {
    size_t i = 0;
    bool bNegative = min < 0 && !text.empty() && text[0] == L'-';
    if (bNegative) ++i;
    if (i == text.size() || text.size() - i > 12) return false;
    long long n = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        n = n * 10 + (text[i] - L'0');
    }
    value = bNegative ? -n : n;
    return value >= min && value <= max;
}

template <size_t N>
bool SetTextField(char (&field)[N], const std::wstring& wide, const char* what, std::string& error) {
    std::string gbk;
    if (!WideToGbk(wide, gbk)) {
        error = std::string(what) + " \"" + WideToUtf8(wide) + "\" has characters that GBK can't hold";
        return false;
    }
    if (gbk.size() > N - 1) {
        error = std::string(what) + " is " + std::to_string(gbk.size()) + " bytes in GBK, at most " +
                std::to_string(N - 1) + " fit";
        return false;
    }
    if (gbk.find('\0') != std::string::npos) {
        error = std::string(what) + " contains a NUL character";
        return false;
    }
    SetFieldText(field, gbk);
    return true;
}

}  // namespace

bool ParseRequestArgument(const std::wstring& argument, sUpdateStruct& record, std::string& error) {
    size_t first = argument.find(L',');
    size_t second = first == std::wstring::npos ? first : argument.find(L',', first + 1);
    size_t last = argument.rfind(L',');
    if (second == std::wstring::npos || last == second) {
        error = "--request needs ID,NAME,URL,KEY, got \"" + WideToUtf8(argument) + "\"";
        return false;
    }
    long long nId = 0;
    std::wstring id = argument.substr(0, first);
    if (!ParseNumber(id, INT32_MIN, INT32_MAX, nId)) {
        error = "--request: game id \"" + WideToUtf8(id) + "\" is not a 32-bit integer";
        return false;
    }
    std::memset(&record, 0, sizeof record);
    record.cCmd = kCmdLobbyRequest;
    record.nGameID = static_cast<int32_t>(nId);
    return SetTextField(record.szGameName, argument.substr(first + 1, second - first - 1),
                        "--request: game name", error) &&
           SetTextField(record.szUrl, argument.substr(second + 1, last - second - 1), "--request: URL",
                        error) &&
           SetTextField(record.szConfigKey, argument.substr(last + 1), "--request: config key", error);
}

bool ParseSimArgs(const std::vector<std::wstring>& args, SimOptions& options, std::string& error) {
    options = SimOptions();
    bool bGapGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::wstring value;
        bool bInlineValue = false;
        size_t eq = name.find(L'=');
        if (name.compare(0, 2, L"--") == 0 && eq != std::wstring::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            bInlineValue = true;
        }
        const std::string strName = WideToUtf8(name);
        auto takeValue = [&]() {
            if (bInlineValue) return true;
            if (i + 1 >= args.size()) {
                error = strName + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto takeNumber = [&](long long min, long long max, int& target) {
            if (!takeValue()) return false;
            long long n = 0;
            if (!ParseNumber(value, min, max, n)) {
                error = strName + " needs a number from " + std::to_string(min) + " to " +
                        std::to_string(max) + ", got \"" + WideToUtf8(value) + "\"";
                return false;
            }
            target = static_cast<int>(n);
            return true;
        };

        if (name == L"--help" || name == L"-h" || name == L"/?") {
            options.bHelp = true;
        } else if (name == L"--port") {
            if (!takeNumber(1, 65535, options.nPort)) return false;
        } else if (name == L"--request") {
            sUpdateStruct record;
            if (!takeValue() || !ParseRequestArgument(value, record, error)) return false;
            options.vecRequests.push_back(record);
        } else if (name == L"--chunk") {
            if (!takeNumber(1, 1 << 20, options.nChunk)) return false;
        } else if (name == L"--coalesce" && !bInlineValue) {
            options.bCoalesce = true;
        } else if (name == L"--delay-ms") {
            if (!takeNumber(0, 3600000, options.nDelayMs)) return false;
        } else if (name == L"--gap-ms") {
            if (!takeNumber(0, 3600000, options.nGapMs)) return false;
            bGapGiven = true;
        } else if (name == L"--linger-ms") {
            if (!takeNumber(0, 3600000, options.nLingerMs)) return false;
        } else if (name == L"--timeout") {
            if (!takeNumber(1, 86400, options.nTimeoutS)) return false;
        } else if (name == L"--dump") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "--dump needs a directory";
                return false;
            }
            options.strDumpDir = value;
        } else if (name == L"--exit-on") {
            if (!takeValue()) return false;
            long long n = 0;
            if (value == L"disconnect") {
                options.exitOn = ExitOn::Disconnect;
            } else if (value == L"start-game-room") {
                options.exitOn = ExitOn::StartGameRoom;
            } else if (value == L"sent") {
                options.exitOn = ExitOn::Sent;
            } else if (value.compare(0, 8, L"reports:") == 0 &&
                       ParseNumber(value.substr(8), 1, 1000000, n)) {
                options.exitOn = ExitOn::Reports;
                options.nReports = static_cast<int>(n);
            } else {
                error = "--exit-on takes disconnect, start-game-room, reports:N (N >= 1) or sent, got \"" +
                        WideToUtf8(value) + "\"";
                return false;
            }
        } else {
            error = "unknown option \"" + WideToUtf8(args[i]) + "\" (try --help)";
            return false;
        }
    }
    if (options.nChunk > 0 && options.bCoalesce) {
        error = "--chunk and --coalesce exclude each other";
        return false;
    }
    if (bGapGiven && (options.nChunk > 0 || options.bCoalesce)) {
        error = "--gap-ms applies only when records are sent one by one, not with --chunk or --coalesce";
        return false;
    }
    return true;
}

std::string DescribeExitCondition(const SimOptions& options) {
    switch (options.exitOn) {
        case ExitOn::StartGameRoom: return "a start-game-room request";
        case ExitOn::Reports:
            return std::to_string(options.nReports) +
                   (options.nReports == 1 ? " task-ended report" : " task-ended reports");
        case ExitOn::Sent: return "the end of sending and lingering";
        case ExitOn::Disconnect: break;
    }
    return "the updater to disconnect";
}

}  // namespace lobbysim

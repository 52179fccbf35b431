#include "server_options.h"

#include "text_bytes.h"

namespace updsrv {

const char kUsage[] =
    "usage: update-server --root DIR [--port N] [--quiet] [--exit-after-seconds S] [--rate-kib K]\n"
    "Serves the files under DIR over HTTP/1.1 on 127.0.0.1 (GET and HEAD, single byte ranges).\n"
    "\n"
    "  --root DIR              the folder to serve (required); nothing outside it is served\n"
    "  --port N                listen on port N (default 0: any free port)\n"
    "  --quiet                 don't print a line per request\n"
    "  --exit-after-seconds S  stop after S seconds (default: run until stopped)\n"
    "  --rate-kib K            send each body at most K KiB per second (a slow network)\n"
    "  --help                  this text\n"
    "\n"
    "Once listening it prints \"update-server: serving DIR on http://127.0.0.1:PORT/\".\n"
    "Exit status: 0 stopped normally, 1 usage error, bad root or port in use.\n";

namespace {

bool ParseNumber(const std::wstring& text, long long nMax, long long& value) {
    if (text.empty() || text.size() > 10) return false;
    long long n = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        n = n * 10 + (c - L'0');
    }
    value = n;
    return n <= nMax;
}

}  // namespace

bool ParseServerArgs(const std::vector<std::wstring>& args, ServerOptions& options, std::string& error) {
    options = ServerOptions();
    bool bRootGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::wstring value;
        bool bHasValue = false;
        size_t eq = name.find(L'=');
        if (name.compare(0, 2, L"--") == 0 && eq != std::wstring::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            bHasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (bHasValue) return true;
            if (i + 1 >= args.size()) {
                error = WideToUtf8(name) + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto noValue = [&]() -> bool {
            if (!bHasValue) return true;
            error = WideToUtf8(name) + " takes no value";
            return false;
        };

        long long n = 0;
        if (name == L"--help" || name == L"-h" || name == L"/?") {
            if (!noValue()) return false;
            options.bHelp = true;
        } else if (name == L"--quiet") {
            if (!noValue()) return false;
            options.bQuiet = true;
        } else if (name == L"--root") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "--root needs a directory";
                return false;
            }
            options.strRoot = value;
            bRootGiven = true;
        } else if (name == L"--port") {
            if (!takeValue()) return false;
            if (!ParseNumber(value, 65535, n)) {
                error = "--port needs a number from 0 to 65535, not \"" + WideToUtf8(value) + "\"";
                return false;
            }
            options.nPort = static_cast<int>(n);
        } else if (name == L"--exit-after-seconds") {
            if (!takeValue()) return false;
            if (!ParseNumber(value, 24 * 3600, n) || n == 0) {
                error = "--exit-after-seconds needs a number from 1 to 86400, not \"" + WideToUtf8(value) + "\"";
                return false;
            }
            options.nExitAfterS = static_cast<int>(n);
        } else if (name == L"--rate-kib") {
            if (!takeValue()) return false;
            if (!ParseNumber(value, 1024 * 1024, n) || n == 0) {
                error = "--rate-kib needs a number from 1 to 1048576, not \"" + WideToUtf8(value) + "\"";
                return false;
            }
            options.nRateKiB = static_cast<int>(n);
        } else {
            error = "unknown option \"" + WideToUtf8(args[i]) + "\"";
            return false;
        }
    }
    if (!options.bHelp && !bRootGiven) {
        error = "--root DIR is required";
        return false;
    }
    return true;
}

}  // namespace updsrv

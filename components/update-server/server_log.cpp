#include "server_log.h"

#include <cstdio>
#include <mutex>

namespace updsrv {

namespace {

std::mutex g_outputLock;

void Write(FILE* stream, const std::string& line) {
    std::lock_guard<std::mutex> lock(g_outputLock);
    fwrite(line.data(), 1, line.size(), stream);
    fflush(stream);
}

}  // namespace

void SayLine(const std::string& utf8) {
    Write(stdout, "update-server: " + utf8 + "\n");
}

void SayError(const std::string& utf8) {
    Write(stderr, "update-server: error: " + utf8 + "\n");
}

void SayRequest(const std::string& line) {
    Write(stdout, line + "\n");
}

}  // namespace updsrv

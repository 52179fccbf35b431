#include "package/stream_installer.h"

struct StreamInstaller::State {
    PackageManifest manifest;
    std::string folder;
    std::string failedPath;
};

StreamInstaller::StreamInstaller(const PackageManifest& manifest, std::string folder)
    : m_state(new State{manifest, std::move(folder), {}})
{
}

StreamInstaller::~StreamInstaller() = default;

uint64_t StreamInstaller::Plan() { return 0; }

bool StreamInstaller::Feed(uint64_t, const char*, size_t) { return false; }

uint64_t StreamInstaller::Restart() { return 0; }

bool StreamInstaller::Done() const { return false; }

const std::string& StreamInstaller::FailedPath() const { return m_state->failedPath; }

uint64_t StreamInstaller::NeededBytes() const { return 0; }

uint64_t StreamInstaller::LargestNeededEntry() const { return 0; }

bool StreamInstaller::HasRoomForLargestEntry() const { return true; }

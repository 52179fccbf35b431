#pragma once
// SHA-256 computed with the CPU's own SHA instructions. The platform's hashing under some
// runtimes is several times slower than these, and installing a game hashes every byte.
#include <cstddef>
#include <cstdint>

// True when this CPU has the SHA instructions and the SSSE3 and SSE4.1 shuffles that go with
// them; asked once per process.
bool CpuHasSha256Instructions();

// One digest fed in pieces: whole 64-byte blocks go straight to the instructions, a partial
// block waits in the buffer. Use only when CpuHasSha256Instructions() is true. Sha256Hasher
// is the front for everyone else; this is visible so a test can set it against the platform.
class Sha256Blocks {
public:
    void Begin();
    void Add(const void* data, size_t size);
    // Pads, writes the 32 bytes of the digest, and leaves the run to be begun again.
    void Finish(unsigned char* digest);

private:
    uint32_t m_state[8] = {};
    unsigned char m_pending[64] = {};
    size_t m_pendingBytes = 0;
    uint64_t m_totalBytes = 0;
};

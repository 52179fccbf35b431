#pragma once
// The pure arithmetic of a download over several connections: which pieces of the file are
// still missing, where the slowest piece is split when a connection frees up, and whether one
// more connection is worth opening.
#include <cstdint>
#include <vector>

// The bytes [first, end) of a file.
struct ByteSpan {
    uint64_t first = 0;
    uint64_t end = 0;
};

// Files up to this size come over one connection: more would not pay for their setup.
constexpr uint64_t kSegmentedAbove = 16ull << 20;

// The pieces of [0, total) that `held` does not cover, in order. `held` may overlap, be unsorted
// or reach past `total`.
std::vector<ByteSpan> MissingSpans(std::vector<ByteSpan> held, uint64_t total);

// `spans` as few as possible: sorted, overlapping and touching ones joined, empty ones dropped.
std::vector<ByteSpan> MergedSpans(std::vector<ByteSpan> spans);

// Where a segment that has reached `next` of its [.., end) gives its second half to a freed
// connection: never a piece smaller than `smallest`. False when the rest is too small to split.
bool SplitPoint(uint64_t next, uint64_t end, uint64_t smallest, uint64_t* at);

// How much one connection asks for at once, given the rate it got on its last request (0: none
// yet): about two seconds' worth, so a long body is not split off from under it for long and a
// fast link does not pay a new connection every few megabytes.
uint64_t AskSize(double bytesPerSecond);

// Decides, one measuring window at a time, whether to open one more connection: while each one
// added raised the total rate by at least a tenth, up to a limit.
class ConnectionRamp {
public:
    explicit ConnectionRamp(int limit) : m_limit(limit) {}

    // The total rate measured over the last window with `open` connections working. True when
    // one more should be opened now.
    bool AddAnother(int open, double rate);
    // The server would not take another: no more are opened.
    void Stop() { m_stopped = true; }
    bool Stopped() const { return m_stopped; }

private:
    int m_limit;
    bool m_stopped = false;
    int m_lastOpen = 0;       // connections open when the last addition was decided
    double m_lastRate = 0.0;  // the rate they gave
};

// The range fetch against a scripted server: the receiver gets exactly the bytes of its ranges,
// in order, whatever the server makes of a request for several ranges.
#include "download/package_ranges.h"

#include <algorithm>

#include "tests/download/download_fixture.h"

namespace {

const char kPackage[] = "/games/demo/game.zip";

// Ranges of 1000 bytes, `spacing` apart: far enough for none to be merged.
std::vector<ByteRange> Spaced(int count, uint64_t spacing) {
    std::vector<ByteRange> ranges;
    for (int i = 0; i < count; ++i) ranges.push_back({i * spacing, i * spacing + 1000});
    return ranges;
}

size_t CountRanges(const std::string& rangeValue) {
    return static_cast<size_t>(std::count(rangeValue.begin(), rangeValue.end(), ',')) + 1;
}

using Receiver = PackageReceiver;

class PackageRanges : public DownloadTest {
protected:
    StreamOutcome Fetch(const ServedFile& file, Receiver* receiver) {
        m_server.Serve(kPackage, file);
        uint64_t needed = 0;
        for (const ByteRange& r : receiver->ranges) needed += r.end - r.first;
        TaskPtr task = NewTask();
        return FetchPackageRanges(
            m_server.Url(kPackage), receiver->ranges, file.body.size(), needed, *task,
            [receiver](uint64_t offset, const char* data, size_t size) { return receiver->Take(offset, data, size); },
            [receiver] { return receiver->Restart(); });
    }
};

TEST_F(PackageRanges, MergesNeighboursAndAsksAtMostTwentyRangesPerRequest) {
    const std::string body = MakeBody(45 * 100000, 7);
    ServedFile file{body};
    file.multiRange = MultiRangeMode::Multipart;
    Receiver receiver;
    receiver.ranges = Spaced(45, 100000);
    receiver.ranges.push_back({44 * 100000 + 5000, 44 * 100000 + 6000});  // 4000 bytes after the last: merged
    EXPECT_EQ(StreamOutcome::Complete, Fetch(file, &receiver));
    EXPECT_TRUE(receiver.bytes == receiver.Expected(body));
    const std::vector<SeenRequest> seen = m_server.Requests();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(20u, CountRanges(seen[0].rangeValue));
    EXPECT_EQ(20u, CountRanges(seen[1].rangeValue));
    EXPECT_EQ("bytes=4000000-4000999,4100000-4100999,4200000-4200999,4300000-4300999,4400000-4405999",
              seen[2].rangeValue);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PackageRanges, ServersThatCannotAnswerSeveralRangesStillDeliverTheRightBytes) {
    const std::string body = MakeBody(500000, 8);
    const struct {
        MultiRangeMode multiRange;
        RangeMode range;
        size_t requests;
    } cases[] = {
        {MultiRangeMode::Whole, RangeMode::Honor, 6},       // then one range at a time
        {MultiRangeMode::FirstOnly, RangeMode::Honor, 5},   // its part serves, the rest one at a time
        {MultiRangeMode::Malformed, RangeMode::Honor, 6},
        {MultiRangeMode::Whole, RangeMode::Ignore, 2},      // a single range gets everything: one stream
    };
    for (const auto& c : cases) {
        ServedFile file{body};
        file.multiRange = c.multiRange;
        file.range = c.range;
        Receiver receiver;
        receiver.ranges = Spaced(5, 100000);
        m_server.ClearRequests();
        EXPECT_EQ(StreamOutcome::Complete, Fetch(file, &receiver));
        EXPECT_TRUE(receiver.bytes == receiver.Expected(body));
        EXPECT_EQ(c.requests, m_server.Requests().size());
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PackageRanges, ACutMultipartAnswerGoesOnFromTheRangeUnderWay) {
    const std::string body = MakeBody(500000, 9);
    ServedFile file{body};
    file.multiRange = MultiRangeMode::Multipart;
    file.etag = "\"v1\"";
    file.cutAfter = {2500};  // inside the third part
    Receiver receiver;
    receiver.ranges = Spaced(5, 100000);
    EXPECT_EQ(StreamOutcome::Complete, Fetch(file, &receiver));
    EXPECT_TRUE(receiver.bytes == receiver.Expected(body));
    EXPECT_EQ(1, receiver.restarts);
    const std::vector<SeenRequest> seen = m_server.Requests();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("bytes=200000-200999,300000-300999,400000-400999", seen[1].rangeValue);
    EXPECT_EQ("\"v1\"", FindHeader(seen[1].rawHead, "If-Range"));
}

}  // namespace

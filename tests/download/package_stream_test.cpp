// The package stream against a scripted server: the receiver gets the package's bytes in order
// from where it asked, again from where it takes up after a lost connection, and nothing else.
#include "download/package_stream.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "tests/download/download_fixture.h"

namespace {

const char kPackage[] = "/games/demo/game.zip";
const uint64_t kFrom = 100;
const uint64_t kTakeUpAt = 1000;  // where the receiver's entry under way began

// The receiver's entry under way began at kTakeUpAt: a restart goes back there.
struct Receiver : PackageReceiver {
    Receiver() { ranges = {{kFrom, kTakeUpAt}, {kTakeUpAt, ~0ull}}; }
};

class PackageStream : public DownloadTest {
protected:
    StreamOutcome Stream(const ServedFile& file, uint64_t zipSize, Receiver* receiver) {
        m_server.Serve(kPackage, file);
        return StreamFrom(m_server.Url(kPackage), zipSize, receiver);
    }
    StreamOutcome StreamFrom(const std::string& url, uint64_t zipSize, Receiver* receiver) {
        TaskPtr task = NewTask();
        return StreamPackage(
            url, kFrom, zipSize, zipSize - kFrom, *task,
            [receiver](uint64_t offset, const char* data, size_t size) { return receiver->Take(offset, data, size); },
            [receiver] { return receiver->Restart(); });
    }
};

TEST_F(PackageStream, HandsOnThePackageFromTheAskedOffsetAndResumesWhereTheReceiverTakesUp) {
    const std::string body = MakeBody(300000, 5);
    ServedFile cut{body};
    cut.etag = "\"v1\"";
    cut.cutAfter = {50000};
    ServedFile noRanges{body};
    noRanges.range = RangeMode::Ignore;
    for (const ServedFile& file : {cut, noRanges}) {
        Receiver receiver;
        EXPECT_EQ(StreamOutcome::Complete, Stream(file, body.size(), &receiver));
        EXPECT_TRUE(receiver.bytes == body.substr(kFrom));
        EXPECT_EQ(file.cutAfter.empty() ? 0 : 1, receiver.restarts);
    }
    // The resumed request asked from the receiver's offset, for the same file only.
    const std::vector<SeenRequest> seen = m_server.Requests();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ("bytes=100-", seen[0].rangeValue);
    EXPECT_EQ("bytes=1000-", seen[1].rangeValue);
    EXPECT_EQ("\"v1\"", FindHeader(seen[1].rawHead, "If-Range"));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PackageStream, EndsOnAMissingPackageAnotherSizeOrARefusingReceiver) {
    const std::string body = MakeBody(20000, 6);
    ServedFile missing{body};
    missing.fixedStatus = 404;
    const struct {
        ServedFile file;
        uint64_t zipSize;
        bool refuse;
        StreamOutcome outcome;
        size_t boxes;  // shown so far
    } cases[] = {
        {missing, body.size(), false, StreamOutcome::NotFound, 0},
        {ServedFile{body}, body.size() + 1, false, StreamOutcome::Failed, 1},
        {ServedFile{body}, body.size(), true, StreamOutcome::Failed, 1},
    };
    for (const auto& c : cases) {
        Receiver receiver;
        receiver.refuse = c.refuse;
        EXPECT_EQ(c.outcome, Stream(c.file, c.zipSize, &receiver));
        EXPECT_EQ(c.boxes, Boxes().size());
    }
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("校验文件" + m_server.Url(kPackage) + "失败.", Boxes()[0].text);
}

// A large package is read ahead in chunks over several connections. A chunk that comes from
// another version of the file, or a connection lost under a chunk, ends that: the stream goes on
// over one connection from where the receiver is, and the receiver never has to take up again.
TEST_F(PackageStream, AReadAheadThatMeetsAnotherVersionOrALostConnectionGoesOnOverOne) {
    const uint64_t size = 20ull << 20;
    ServedFile changing{};
    changing.patternSize = size;
    changing.etag = "\"v1\"";
    changing.laterEtag = "\"v2\"";
    changing.laterEtagAfter = 2;
    ServedFile cut{};
    cut.patternSize = size;
    cut.etag = "\"v1\"";
    cut.cutAfter = {1u << 20};
    for (const ServedFile& file : {changing, cut}) {
        m_server.ClearRequests();
        Receiver receiver;
        EXPECT_EQ(StreamOutcome::Complete, Stream(file, size, &receiver));
        EXPECT_TRUE(receiver.bytes == PatternBytes(kFrom, size - kFrom));
        EXPECT_EQ(0, receiver.restarts);
        const std::vector<SeenRequest> seen = m_server.Requests();
        ASSERT_GE(seen.size(), 2u);
        // A chunk first; at last the rest from where the receiver was.
        const std::string first = seen.front().rangeValue;
        const std::string last = seen.back().rangeValue;
        EXPECT_TRUE(first.rfind("bytes=100-", 0) == 0 && first.back() != '-') << first;
        EXPECT_TRUE(last.back() == '-' && last != "bytes=100-") << last;
        EXPECT_EQ("\"v1\"", FindHeader(seen.back().rawHead, "If-Range"));
    }
    EXPECT_TRUE(Boxes().empty());
}

// Against nginx capping each connection: the package reaches the receiver whole and in order,
// over requests that ran at the same time.
TEST_F(PackageStream, APackageFromACappingServerComesOverSeveralConnections) {
    const char* port = std::getenv("UPDATER_NGINX_PORT");
    if (port == nullptr) GTEST_SKIP() << "runs beside nginx (download_nginx_test)";
    const std::string folder = std::string("Z:") + std::getenv("UPDATER_PACKAGE_DIR");
    const std::string body = ReadWholeFile(folder + "/www/seg/big.bin");
    ASSERT_EQ(40u << 20, body.size());
    const std::string log = ReadWholeFile(folder + "/seg.log");
    Receiver receiver;
    EXPECT_EQ(StreamOutcome::Complete,
              StreamFrom(std::string("http://127.0.0.1:") + port + "/seg/big.bin", body.size(), &receiver));
    EXPECT_TRUE(receiver.bytes == body.substr(kFrom));
    // This stream's lines of the log (end time, request time, status, bytes): two overlapped.
    std::istringstream lines(ReadWholeFile(folder + "/seg.log").substr(log.size()));
    std::vector<std::pair<double, double>> spans;
    double end = 0, took = 0;
    int status = 0;
    uint64_t bytes = 0;
    while (lines >> end >> took >> status >> bytes) spans.push_back({end - took, end});
    std::sort(spans.begin(), spans.end());
    bool overlapped = false;
    for (size_t i = 1; i < spans.size(); ++i) overlapped = overlapped || spans[i].first < spans[i - 1].second;
    EXPECT_TRUE(overlapped) << spans.size() << " requests";
}

}  // namespace

// The lobby link's stream is cut back into whole requests whatever the read boundaries, and
// realigns after bytes that do not form a request.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lobby/record_stream.h"

namespace {

// Requests whose every byte differs from the next one's, text fields terminated.
std::string Records(int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        sUpdateStruct record = {};
        char* raw = reinterpret_cast<char*>(&record);
        for (size_t b = 0; b < sizeof record; ++b) raw[b] = static_cast<char>(0x41 + (b * 31 + i * 7) % 26);
        record.cCmd = kCmdRequest;
        std::memcpy(record.szUrl, "http://", 7);
        record.szGameName[150] = '\0';
        record.szUrl[900] = '\0';
        record.szConfigKey[19] = '\0';
        bytes.append(raw, sizeof record);
    }
    return bytes;
}

struct Piece {
    std::string bytes;
    uint32_t at;  // arrival, ms
};

std::vector<std::string> Feed(RecordAssembler& assembler, const std::vector<Piece>& pieces) {
    std::vector<std::string> out;
    for (const Piece& piece : pieces) {
        assembler.Feed(piece.bytes.data(), piece.bytes.size(), piece.at,
                       [&](const char* record, int length) { out.emplace_back(record, static_cast<size_t>(length)); });
    }
    return out;
}

std::vector<std::string> FeedInPieces(const std::string& stream, const std::vector<size_t>& sizes) {
    std::vector<Piece> pieces;
    size_t offset = 0;
    for (size_t size : sizes) {
        pieces.push_back({stream.substr(offset, size), 0});
        offset += size;
    }
    EXPECT_EQ(stream.size(), offset);
    RecordAssembler assembler(IsAcceptableRequest);
    std::vector<std::string> out = Feed(assembler, pieces);
    EXPECT_EQ(0u, assembler.Pending());
    return out;
}

void ExpectWholeRecords(const std::string& stream, const std::vector<std::string>& out) {
    ASSERT_EQ(stream.size() / kRecordSize, out.size());
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(stream.substr(i * kRecordSize, kRecordSize), out[i]) << "record " << i;
    }
}

TEST(RecordAssembler, OneByteAtATime) {
    std::string stream = Records(2);
    ExpectWholeRecords(stream, FeedInPieces(stream, std::vector<size_t>(stream.size(), 1)));
}

TEST(RecordAssembler, SplitInHalvesAndCoalesced) {
    std::string one = Records(1);
    ExpectWholeRecords(one, FeedInPieces(one, {614, 614}));

    std::string three = Records(3);
    ExpectWholeRecords(three, FeedInPieces(three, {three.size()}));
    // A read that ends a record and starts the next.
    ExpectWholeRecords(three, FeedInPieces(three, {1000, 1500, three.size() - 2500}));
}

TEST(RecordAssembler, RandomBoundaries) {
    std::mt19937 random(1228);
    std::string stream = Records(9);
    for (int round = 0; round < 50; ++round) {
        std::vector<size_t> pieces;
        size_t left = stream.size();
        while (left > 0) {
            size_t piece = std::min<size_t>(left, 1 + random() % 10240);
            pieces.push_back(piece);
            left -= piece;
        }
        ExpectWholeRecords(stream, FeedInPieces(stream, pieces));
    }
}

TEST(RecordAssembler, PartialRecordIsHeldAndCanBeDropped) {
    std::string stream = Records(2);
    RecordAssembler assembler(IsAcceptableRequest);
    EXPECT_TRUE(Feed(assembler, {{stream.substr(0, kRecordSize - 1), 0}}).empty());
    EXPECT_EQ(static_cast<size_t>(kRecordSize - 1), assembler.Pending());

    assembler.Reset();  // the connection ended inside the record
    EXPECT_EQ(1u, Feed(assembler, {{stream.substr(kRecordSize), 0}}).size());
    EXPECT_EQ(0u, assembler.Pending());
}

// The lobby's command byte decides nothing: a zero-initialised record is a request as much as
// one with cCmd 1.
TEST(RecordAssembler, TakesRequestsWhateverTheirCommandByte) {
    const std::string records = Records(1);
    for (int cmd : {0, 1, 7, 255}) {
        std::string record = records;
        record[0] = static_cast<char>(cmd);
        RecordAssembler assembler(IsAcceptableRequest);
        EXPECT_EQ(1u, Feed(assembler, {{record, 0}}).size()) << "cCmd " << cmd;
    }
}

// Bytes that are no request put the stream out of step; the requests sent in later blocks
// still arrive whole, and nothing is made of the junk.
TEST(RecordAssembler, RealignsAfterBytesThatAreNoRequest) {
    const std::string records = Records(2);
    const std::string first = records.substr(0, kRecordSize);
    const std::string second = records.substr(kRecordSize);
    const std::string junk72(72, '\x7f');
    std::string emptyUrl = first;
    emptyUrl[208] = '\0';
    std::string unterminated = first;
    std::memset(&unterminated[8], 'x', 200);  // the name runs to the end of its field
    std::string controlByte = first;
    controlByte[1208] = '\x02';  // binary in a text field: the record is read out of step
    std::string noHttp = first;
    std::memcpy(&noHttp[208], "file://", 7);
    struct Case {
        const char* what;
        std::vector<Piece> pieces;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"7 stray bytes, then two records in separate writes",
         {{"JUNKJUN", 0}, {first, 100}, {second, 200}}, {first, second}},
        {"a record and 72 junk bytes, then a record",
         {{first + junk72, 0}, {second, 100}}, {first, second}},
        {"a record and 72 junk bytes, a pause, then a record split in two",
         {{first + junk72, 0}, {second.substr(0, 600), 1500}, {second.substr(600), 1600}}, {first, second}},
        {"the unfinished record waits too long", {{first.substr(0, 600), 0}, {first.substr(600), 1200}, {second, 1300}},
         {second}},
        {"an empty update URL", {{emptyUrl, 0}, {second, 10}}, {second}},
        {"a name without its terminator", {{unterminated + first, 0}, {second, 10}}, {second}},
        {"a control byte in a text", {{controlByte, 0}, {second, 10}}, {second}},
        {"an update URL that is no http URL", {{noHttp, 0}, {second, 10}}, {second}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        RecordAssembler assembler(IsAcceptableRequest);
        std::vector<std::string> out = Feed(assembler, test.pieces);
        ASSERT_EQ(test.expected.size(), out.size());
        for (size_t i = 0; i < out.size(); ++i) EXPECT_TRUE(test.expected[i] == out[i]) << "record " << i;
        EXPECT_EQ(0u, assembler.Pending());
    }
}

}  // namespace

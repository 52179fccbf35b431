// The lobby link's stream is cut back into whole records whatever the read boundaries.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lobby/record_stream.h"

namespace {

std::string Records(int count) {
    std::string bytes(static_cast<size_t>(count) * kRecordSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 31 + i / kRecordSize) & 0xFF);
    return bytes;
}

std::vector<std::string> FeedInPieces(const std::string& stream, const std::vector<size_t>& pieces) {
    RecordAssembler assembler;
    std::vector<std::string> out;
    size_t offset = 0;
    for (size_t piece : pieces) {
        assembler.Feed(stream.data() + offset, piece,
                       [&](const char* record, int length) { out.emplace_back(record, static_cast<size_t>(length)); });
        offset += piece;
    }
    EXPECT_EQ(stream.size(), offset);
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
    RecordAssembler assembler;
    int delivered = 0;
    auto count = [&](const char*, int length) {
        EXPECT_EQ(kRecordSize, length);
        ++delivered;
    };
    assembler.Feed(stream.data(), kRecordSize - 1, count);
    EXPECT_EQ(0, delivered);
    EXPECT_EQ(static_cast<size_t>(kRecordSize - 1), assembler.Pending());

    assembler.Reset();  // the connection ended inside the record
    assembler.Feed(stream.data() + kRecordSize, kRecordSize, count);
    EXPECT_EQ(1, delivered);
    EXPECT_EQ(0u, assembler.Pending());
}

}  // namespace

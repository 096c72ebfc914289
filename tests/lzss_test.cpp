#include <gtest/gtest.h>

#include "kzp_encoder.h"
#include "lzss/lzss.h"
#include "sample_images.h"
#include "test_util.h"

namespace {

using Step = int (*)(LzssState*, const uint8_t*, int32_t*, uint8_t*, int32_t*);

// Decodes `stream` fed in random pieces of 1..max_piece bytes, with random
// output allowances of 1..max_allowance bytes per call.
Bytes decode_in_pieces(const Bytes& stream, std::mt19937& rng, int max_piece, int max_allowance,
                       Step step = lzss_decode_step) {
    max_allowance = static_cast<int>(std::min<size_t>(max_allowance, 9 * stream.size() + 1));
    LzssState* state = lzss_state_create();
    Bytes out;
    size_t pos = 0;
    bool last = false;
    while (!last) {
        int32_t piece = static_cast<int32_t>(
            std::min<size_t>(rng() % static_cast<unsigned>(max_piece) + 1, stream.size() - pos));
        last = piece == 0;
        int32_t in_left = piece;
        for (;;) {
            int32_t allowance =
                static_cast<int32_t>(rng() % static_cast<unsigned>(max_allowance)) + 1;
            Bytes room(static_cast<size_t>(allowance) + 1, 0xAB);
            int32_t out_left = allowance;
            step(state, stream.data() + pos + (piece - in_left), &in_left, room.data(), &out_left);
            EXPECT_EQ(room[static_cast<size_t>(allowance)], 0xAB) << "wrote past its allowance";
            out.insert(out.end(), room.begin(), room.begin() + (allowance - out_left));
            if (in_left == 0 && out_left > 0) break;
        }
        pos += static_cast<size_t>(piece);
    }
    lzss_state_free(state);
    return out;
}

Bytes decode_file(const Bytes& contents, int64_t stored_size) {
    std::FILE* file = std::tmpfile();
    if (!contents.empty()) std::fwrite(contents.data(), 1, contents.size(), file);
    std::rewind(file);
    Bytes out(static_cast<size_t>(9 * std::max<int64_t>(stored_size, 0)));
    out.resize(static_cast<size_t>(decode_stored_stream(file, stored_size, out.data())));
    std::fclose(file);
    return out;
}

Bytes repeat(uint8_t byte, size_t count) {
    return Bytes(count, byte);
}

TEST(Lzss, KnownStreams) {
    struct Case {
        const char* what;
        Bytes stream, expected;
    } cases[] = {
        {"eight literals", {0xFF, 1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"first item a reference: zeros", {0x00, 0x34, 0x1F}, repeat(0, 18)},
        {"reference reads the bytes it writes", {0x01, 'x', 0xEE, 0xF0}, Bytes(4, 'x')},
        {"distance one repeats the last byte",
         {0x03, 'a', 'b', 0xEF, 0xF2},
         {'a', 'b', 'b', 'b', 'b', 'b', 'b'}},
        {"source wraps around the window end", {0x01, 'q', 0xED, 0xF1}, {'q', 0, 'q', 0, 'q'}},
        {"stream ends inside a group", {0xFF, 'a'}, {'a'}},
        {"lone first byte of a reference", {0x01, 'z', 0x55}, {'z'}},
        {"second group", {0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0x01, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"empty", {}, {}},
    };
    std::mt19937 rng(1);
    for (const Case& c : cases) {
        EXPECT_EQ(decode_in_pieces(c.stream, rng, 1 << 20, 1 << 20), c.expected) << c.what;
        EXPECT_EQ(decode_in_pieces(c.stream, rng, 1, 1), c.expected) << c.what;
        EXPECT_EQ(decode_file(c.stream, static_cast<int64_t>(c.stream.size())), c.expected)
            << c.what;
    }
}

// Encoded data comes back unchanged: the encoder reaches into the initial
// zero window and makes overlapping copies.
TEST(Lzss, RoundTrip) {
    std::mt19937 rng(7);
    Bytes text;
    for (int i = 0; i < 3000; i++)
        text.push_back(static_cast<uint8_t>("quorbin "[i % 8] + i / 700));
    for (const Bytes& data : {random_bytes(rng, 5000), random_bytes(rng, 20000, 3), repeat(0, 9000),
                              repeat(7, 5000), text, Bytes{}}) {
        Bytes stream = lzss_compress(data);
        EXPECT_EQ(decode_file(stream, static_cast<int64_t>(stream.size())), data) << data.size();
    }
}

// Through a file: 16384-byte chunks, references split across chunks, stored
// sizes shorter and longer than the file.
TEST(Lzss, StoredStreamFromFile) {
    std::mt19937 rng(3);
    Bytes data = random_bytes(rng, 300000, 4);
    Bytes stream = lzss_compress(data);
    ASSERT_GT(stream.size(), 3 * 16384u);
    EXPECT_EQ(decode_file(stream, static_cast<int64_t>(stream.size())), data);
    EXPECT_EQ(decode_file(stream, static_cast<int64_t>(stream.size()) + 100000), data);
    Bytes prefix(stream.begin(), stream.begin() + 40000);
    EXPECT_EQ(decode_file(stream, 40000), decode_in_pieces(prefix, rng, 1 << 20, 1 << 20));
    EXPECT_TRUE(decode_file(stream, 0).empty());
    EXPECT_TRUE(decode_file(stream, -5).empty());
}

// The last chunk holds one byte that completes an 18-byte reference: all 18
// bytes come out, not just nine for that one input byte.
TEST(Lzss, LastChunkCompletesLongReference) {
    Bytes stream;
    for (int group = 0; group < 1820; group++) {
        stream.push_back(0xFF);
        for (int i = 0; i < 8; i++)
            stream.push_back(static_cast<uint8_t>(group + i));
    }
    stream.insert(stream.end(), {0x03, 'p', 'q', 0xEE, 0xFF}); // both literals, then 18 back
    ASSERT_EQ(stream.size(), 16385u);
    Bytes out = decode_file(stream, 16385);
    ASSERT_EQ(out.size(), 1820u * 8 + 2 + 18);
    std::mt19937 rng(5);
    EXPECT_EQ(out, decode_in_pieces(stream, rng, 1 << 20, 1 << 20));
}

// A random stream whose references favour short distances (runs, short
// periods, overlapping copies) as well as far ones into the window.
Bytes synthesized_stream(std::mt19937& rng, size_t groups) {
    Bytes stream;
    uint32_t written = 0;
    for (size_t g = 0; g < groups; g++) {
        uint8_t flags = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF * (rng() % 2) : rng());
        stream.push_back(flags);
        for (int item = 0; item < 8; item++, flags >>= 1) {
            if (flags & 1) {
                stream.push_back(static_cast<uint8_t>(rng()));
                written++;
                continue;
            }
            uint32_t distance = rng() % 3 == 0 ? rng() % 4096 + 1 : rng() % 24 + 1;
            uint32_t length = rng() % 16;
            uint32_t position = (written - distance - kLzssPositionBias) & (kLzssWindowSize - 1);
            stream.push_back(static_cast<uint8_t>(position));
            stream.push_back(static_cast<uint8_t>((position >> 8) << 4 | length));
            written += length + kLzssMinMatch;
        }
    }
    return stream;
}

// The fast path against the bytewise one, under every split of input and
// output: random streams, streams favouring short distances, and encoded
// pictures of every kind.
TEST(Lzss, FastPathMatchesBytewise) {
    std::mt19937 rng(9);
    std::vector<Bytes> streams;
    for (int round = 0; round < 20; round++) {
        streams.push_back(random_bytes(rng, 6000));
        streams.push_back(synthesized_stream(rng, 1000));
    }
    for (int kind = kSampleFlat; kind <= kSampleNoise; kind++)
        streams.push_back(
            lzss_compress(make_sample_image(static_cast<SampleKind>(kind), 300, 200)));
    for (const Bytes& stream : streams) {
        Bytes expected = decode_in_pieces(stream, rng, 1 << 20, 1 << 30, lzss_decode_step_bytewise);
        for (auto [piece, allowance] : {std::pair{1 << 20, 1 << 30},
                                        {1, 1},
                                        {3, 2},
                                        {200, 700},
                                        {49, 161},
                                        {5000, 1 << 30},
                                        {1 << 20, 4099}})
            ASSERT_EQ(decode_in_pieces(stream, rng, piece, allowance), expected)
                << stream.size() << " bytes, pieces " << piece << ", allowance " << allowance;
        ASSERT_EQ(decode_file(stream, static_cast<int64_t>(stream.size())), expected);
    }
}

// From a file the fast decode carries the bytes of an unfinished group over
// to the next chunk: every cut of a long stream, at chunk boundaries and
// between them, gives what the bytewise decode of that prefix gives.
TEST(Lzss, FileDecodeMatchesBytewiseAtEveryCut) {
    std::mt19937 rng(11);
    const Bytes stream = synthesized_stream(rng, 8000);
    ASSERT_GT(stream.size(), 5 * 16384u);
    std::vector<size_t> cuts = {stream.size(), 16383, 16384, 16385, 2 * 16384 + 1, 5 * 16384 - 1};
    for (int i = 0; i < 8; i++)
        cuts.push_back(rng() % stream.size());
    for (size_t cut : cuts) {
        const Bytes prefix(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut));
        ASSERT_EQ(decode_file(stream, static_cast<int64_t>(cut)),
                  decode_in_pieces(prefix, rng, 1 << 20, 1 << 30, lzss_decode_step_bytewise))
            << "cut at " << cut;
    }
}

} // namespace

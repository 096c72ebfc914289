#include <gtest/gtest.h>

#include "lzss/lzss.h"
#include "sample_images.h"
#include "test_util.h"

// Decodes `stream` in random pieces of 1..max_piece bytes into allowances of
// 0..max_allowance bytes: each call uses up one or the other, writing no further.
Bytes decode_in_pieces(const Bytes& stream, std::mt19937& rng, unsigned max_piece,
                       unsigned max_allowance) {
    max_allowance = static_cast<unsigned>(std::min<size_t>(max_allowance, 9 * stream.size() + 1));
    LzssState* state = lzss_state_create();
    Bytes out;
    for (size_t pos = 0, piece = 1; piece > 0; pos += piece) {
        piece = std::min<size_t>(rng() % max_piece + 1, stream.size() - pos);
        int32_t in_left = static_cast<int32_t>(piece);
        for (int32_t out_left = 0; in_left > 0 || out_left == 0;) {
            const int32_t allowance = static_cast<int32_t>(rng() % (max_allowance + 1));
            Bytes room(static_cast<size_t>(allowance) + 1, 0xAB);
            out_left = allowance;
            lzss_decode_step(state, stream.data() + pos + piece - in_left, &in_left, room.data(),
                             &out_left);
            EXPECT_EQ(room.back(), 0xAB) << "wrote past its allowance";
            EXPECT_TRUE(in_left == 0 || out_left == 0) << "stopped with input and room left";
            out.insert(out.end(), room.begin(), room.begin() + (allowance - out_left));
        }
    }
    lzss_state_free(state);
    return out;
}

// Decodes `stored_size` bytes of a file holding `contents`, in 16 KiB chunks.
Bytes decode_file(const Bytes& contents, int64_t stored_size, LzssDecoder decoder = kLzssFast) {
    std::FILE* file = std::tmpfile();
    if (!contents.empty()) std::fwrite(contents.data(), 1, contents.size(), file);
    std::rewind(file);
    Bytes out(static_cast<size_t>(9 * std::max<int64_t>(stored_size, 0)));
    out.resize(static_cast<size_t>(decode_stored_stream(file, stored_size, out.data(), decoder)));
    std::fclose(file);
    return out;
}

Bytes bytewise(const Bytes& stream) {
    return decode_file(stream, int64_t(stream.size()), kLzssBytewise);
}

// The fast decoder gives `expected` under every split of input and output,
// from a file in chunks and from memory.
void decodes_every_way(const Bytes& stream, const Bytes& expected, std::mt19937& rng) {
    const unsigned splits[][2] = {{1u << 20, 1u << 30}, {1, 1},          {3, 2}, {49, 161},
                                  {5000, 1u << 30},     {1u << 20, 4099}};
    for (auto [piece, allowance] : splits)
        ASSERT_EQ(decode_in_pieces(stream, rng, piece, allowance), expected)
            << stream.size() << " bytes, pieces " << piece << ", allowance " << allowance;
    ASSERT_EQ(decode_file(stream, int64_t(stream.size())), expected);
    Bytes whole(9 * stream.size() + 9);
    whole.resize(size_t(decode_stored_buffer(stream.data(), int64_t(stream.size()), whole.data())));
    ASSERT_EQ(whole, expected);
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
            const uint32_t distance = rng() % 3 == 0 ? rng() % 4096 + 1 : rng() % 24 + 1;
            const uint32_t at = (written - distance - kLzssPositionBias) & (kLzssWindowSize - 1);
            const uint32_t length = rng() % 16;
            if (flags & 1)
                stream.push_back(static_cast<uint8_t>(rng())), written++;
            else
                stream.insert(stream.end(), {uint8_t(at), uint8_t((at >> 8) << 4 | length)}),
                    written += length + kLzssMinMatch;
        }
    }
    return stream;
}

// Streams worked out by hand decode as written here; on them, random streams,
// short-distance ones and encoded pictures the fast decoder is the bytewise one.
TEST(Lzss, FastPathMatchesBytewise) {
    // clang-format off
    const std::pair<Bytes, Bytes> cases[] = {
        {{0xFF, 1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}}, {{0xFF, 'a'}, {'a'}}, {{0x01, 'z', 0x55}, {'z'}}, {{}, {}},
        {{0x00, 0x34, 0x1F}, Bytes(18, 0)}, {{0x01, 'x', 0xEE, 0xF0}, Bytes(4, 'x')}, // zeros first; it reads what it writes
        {{0x03, 'a', 'b', 0xEF, 0xF2}, {'a', 'b', 'b', 'b', 'b', 'b', 'b'}},
        {{0x01, 'q', 0xED, 0xF1}, {'q', 0, 'q', 0, 'q'}}, // the source wraps around
        {{0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0x01, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
    };
    // clang-format on
    std::vector<Bytes> streams;
    for (const auto& [stream, expected] : cases) {
        EXPECT_EQ(bytewise(stream), expected);
        streams.push_back(stream);
    }
    EXPECT_EQ(decode_file({0xFF, 1, 2}, 0).size() + decode_file({0xFF, 1, 2}, -5).size(), 0u);
    std::mt19937 rng(9);
    for (int round = 0; round < 20; round++) {
        streams.push_back(random_bytes(rng, 6000));
        streams.push_back(synthesized_stream(rng, 1000));
    }
    for (int kind = kSampleFlat; kind <= kSampleNoise; kind++)
        streams.push_back(lzss_encode(make_sample_image(SampleKind(kind), 300, 200)));
    // 1000 literals, a run of the last (position 0x3D5, distance 1), a reference
    // to 0x1E7 (distance 513; a run would be at 0x3E7), 6 literals, then more.
    Bytes trap(9 * 125, 0xFF);
    trap.back() = 'h';
    trap.insert(trap.end(), {0xFC, 0xD5, 0x3F, 0xE7, 0x10, 1, 2, 3, 4, 5, 6});
    trap.insert(trap.end(), 9 * 200, 0xFF);
    streams.push_back(trap);
    for (const Bytes& stream : streams)
        decodes_every_way(stream, bytewise(stream), rng);
    // An unfinished group is carried over to the file's next chunk: a stream cut
    // at chunk boundaries and between them decodes as its prefix does.
    const Bytes stream = synthesized_stream(rng, 8000);
    for (size_t cut : {stream.size(), size_t{16383}, size_t{16384}, size_t{16385},
                       size_t{2 * 16384 + 1}, size_t{5 * 16384 - 1}, rng() % stream.size()})
        ASSERT_EQ(decode_file(stream, int64_t(cut)),
                  bytewise(Bytes(stream.begin(), stream.begin() + ptrdiff_t(cut))))
            << "cut at " << cut;
    // The last chunk holds one byte that completes an 18-byte reference: all
    // 18 bytes come out, not just nine for that one input byte.
    Bytes last(16380, 0xFF); // groups of eight literals
    last.insert(last.end(), {0x03, 'p', 'q', 0xEE, 0xFF});
    EXPECT_EQ(decode_file(last, 16385), bytewise(last));
}

// The fewest bits for `data`, found the slow way: every distance of the
// window (zeros before the data) at every position, every length.
size_t fewest_bits(const Bytes& data) {
    Bytes hist(4096, 0);
    hist.insert(hist.end(), data.begin(), data.end());
    std::vector<size_t> best(data.size() + 1, 0);
    for (size_t i = data.size(); i-- > 0;) {
        best[i] = best[i + 1] + 9;
        for (size_t d = 1; d <= 4096; d++)
            for (size_t n = 1; n <= 18 && i + n <= data.size(); n++) {
                if (hist[4095 + i - d + n] != hist[4095 + i + n]) break;
                if (n >= 3) best[i] = std::min(best[i], best[i + n] + 17);
            }
    }
    return best[0];
}

// The encoder's parse is optimal (9 bits a literal, 17 a reference) and decodes
// back, as do greedy and shallow searches and data that uses the zero window.
TEST(Lzss, EncoderIsOptimal) {
    std::mt19937 rng(5);
    for (int round = 0; round < 60; round++) {
        Bytes data = random_bytes(rng, rng() % 300, round % 3 == 0 ? 2 : 4);
        if (round % 5 == 0) data.insert(data.begin(), rng() % 40, 0);
        const Bytes stream = lzss_encode(data);
        size_t bits = 0;
        for (size_t at = 0; at < stream.size();)
            for (int item = 0, flags = stream[at++]; item < 8 && at < stream.size(); item++)
                bits += flags >> item & 1 ? (at += 1, 9) : (at += 2, 17);
        EXPECT_EQ(bits, fewest_bits(data)) << round;
        EXPECT_EQ(bytewise(stream), data) << round;
        for (LzssEncodeOptions options : {LzssEncodeOptions{0, true}, LzssEncodeOptions{2, false}})
            EXPECT_EQ(bytewise(lzss_encode(data, options)), data) << round;
    }
    for (const Bytes& data : {random_bytes(rng, 300000, 4), Bytes(9000, 0)}) {
        const Bytes stream = lzss_encode(data);
        EXPECT_EQ(decode_file(stream, int64_t(stream.size()) + 100000), data); // past the end
    }
}

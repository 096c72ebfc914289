#include <gtest/gtest.h>

#include <bitset>

#include "lzss/lzss.h"
#include "sample_images.h"
#include "test_util.h"

// Decodes `stream` in random pieces of 1..max_piece bytes into allowances of 0..max_allowance
// bytes: each call uses up one or the other, and writes no further.
Bytes decode_in_pieces(const Bytes& stream, std::mt19937& rng, unsigned max_piece,
                       unsigned max_allowance) {
    max_allowance = unsigned(std::min<size_t>(max_allowance, 9 * stream.size() + 1));
    LzssState* state = lzss_state_create();
    Bytes out;
    for (size_t pos = 0, piece = 1; piece > 0; pos += piece) {
        piece = std::min<size_t>(rng() % max_piece + 1, stream.size() - pos);
        int32_t in_left = int32_t(piece);
        for (int32_t out_left = 0; in_left > 0 || out_left == 0;) {
            const int32_t allowance = int32_t(rng() % (max_allowance + 1));
            Bytes room(size_t(allowance) + 1, 0xAB);
            out_left = allowance;
            lzss_decode_step(state, stream.data() + pos + piece - size_t(in_left), &in_left,
                             room.data(), &out_left);
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
    ScratchFile scratch;
    if (!contents.empty()) std::fwrite(contents.data(), 1, contents.size(), scratch.file);
    std::rewind(scratch.file);
    Bytes out(size_t(9 * std::max<int64_t>(stored_size, 0)));
    out.resize(size_t(decode_stored_stream(scratch.file, stored_size, out.data(), decoder)));
    return out;
}

// The format's own algorithm over the whole stream in memory (no file: many tests run at once).
Bytes bytewise(const Bytes& stream) {
    LzssState* state = lzss_state_create();
    Bytes out(9 * stream.size() + 1);
    int32_t in_left = int32_t(stream.size()), out_left = int32_t(out.size());
    lzss_decode_step_bytewise(state, stream.data(), &in_left, out.data(), &out_left);
    lzss_state_free(state);
    out.resize(out.size() - size_t(out_left));
    return out;
}

// Hand-worked streams decode as written. On them, random streams and encoded pictures the fast
// decoder gives the bytewise one's bytes under any split of input and output.
TEST(Lzss, FastPathMatchesBytewise) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{0x00, 0x34, 0x1F}, Bytes(18, 0)},                // the window starts as zeros
        {{0x01, 'x', 0xEE, 0xF0}, {'x', 'x', 'x', 'x'}},   // it reads what it writes
        {{0x01, 'q', 0xED, 0xF1}, {'q', 0, 'q', 0, 'q'}}}; // the source wraps around
    std::vector<Bytes> streams;
    for (const auto& [stream, expected] : cases) {
        EXPECT_EQ(bytewise(stream), expected);
        streams.push_back(stream);
    }
    EXPECT_EQ(decode_file({0xFF, 1, 2}, 0).size() + decode_file({0xFF, 1, 2}, -5).size(), 0u);
    std::mt19937 rng(9);
    for (int round = 0; round < 20; round++) {
        streams.push_back(random_bytes(rng, 6000));
        streams.push_back(lzss_encode(random_bytes(rng, 30000, round % 4 + 2))); // short periods
    }
    for (int kind = kSampleFlat; kind <= kSampleNoise; kind++)
        streams.push_back(lzss_encode(make_sample_image(SampleKind(kind), 300, 200)));
    // 1000 literals, a run of the last (position 0x3D5, distance 1), a reference to 0x1E7
    // (distance 513; a run would be at 0x3E7), 6 literals, then more.
    Bytes trap(9 * 125, 0xFF);
    trap.back() = 'h';
    trap.insert(trap.end(), {0xFC, 0xD5, 0x3F, 0xE7, 0x10, 1, 2, 3, 4, 5, 6});
    trap.insert(trap.end(), 9 * 200, 0xFF);
    streams.push_back(trap);
    for (const Bytes& stream : streams) {
        const Bytes expected = bytewise(stream);
        for (auto [piece, allowance] : {std::pair{1u << 20, 1u << 30},
                                        {1u, 1u},
                                        {3u, 2u},
                                        {49u, 161u},
                                        {5000u, 1u << 30},
                                        {1u << 20, 4099u}})
            ASSERT_EQ(decode_in_pieces(stream, rng, piece, allowance), expected)
                << stream.size() << " bytes, pieces " << piece << ", allowance " << allowance;
        ASSERT_EQ(decode_file(stream, int64_t(stream.size())), expected);
    }
    // A stream cut at and between chunk boundaries decodes as its prefix, by either decoder.
    const Bytes stream = random_bytes(rng, 90000);
    for (size_t cut : {stream.size(), size_t{16383}, size_t{16384}, size_t{16385},
                       size_t{2 * 16384 + 1}, size_t{5 * 16384 - 1}, rng() % stream.size()}) {
        const Bytes prefix = bytewise(Bytes(stream.begin(), stream.begin() + ptrdiff_t(cut)));
        ASSERT_EQ(decode_file(stream, int64_t(cut)), prefix) << "cut at " << cut;
        ASSERT_EQ(decode_file(stream, int64_t(cut), kLzssBytewise), prefix) << "cut at " << cut;
    }
    // The last chunk's one byte completes an 18-byte reference: all 18 bytes come out.
    Bytes last(16380, 0xFF); // groups of eight literals
    last.insert(last.end(), {0x03, 'p', 'q', 0xEE, 0xFF});
    EXPECT_EQ(decode_file(last, 16385), bytewise(last));
}

// Every bit total (up to 2^16) that some parse of `data` makes: the totals from each position on,
// over every literal and every reference that a search of every distance finds there.
std::bitset<1 << 16> reachable_bits(const Bytes& data) {
    Bytes hist(4096, 0);
    hist.insert(hist.end(), data.begin(), data.end());
    std::vector<std::bitset<1 << 16>> rows(19); // by position % 19
    rows[data.size() % 19][0] = true;
    for (size_t i = data.size(); i-- > 0;) {
        size_t longest = 0;
        for (size_t d = 1, m = 0; d <= 4096; d++, longest = std::max(longest, m), m = 0)
            while (m < 18 && i + m < data.size() && hist[4096 + i - d + m] == data[i + m])
                m++;
        rows[i % 19] = rows[(i + 1) % 19] << 9;
        for (size_t m = 3; m <= longest; m++)
            rows[i % 19] |= rows[(i + m) % 19] << 17;
    }
    return rows[0];
}

// A target size is met exactly when some parse makes it (the stream decodes to the data), else the
// smallest stream, the smallest any parse makes, comes back: on short data of few values, on data
// with repeats at short distances and on pictures. Any search depth and thread split is right.
TEST(Lzss, EncodesToEveryReachableSize) {
    std::mt19937 rng(8);
    std::vector<Bytes> inputs;
    for (int round = 0; round < 210; round++) {
        Bytes data = random_bytes(rng, round < 150 ? 3 + rng() % 50 : rng() % 1000, round % 6 + 1);
        for (size_t i = 8; i < data.size(); i++)
            data[i] = rng() % 2 ? data[i - 1 - rng() % 8] : data[i];
        if (round % 5 == 0) data.insert(data.begin(), rng() % 40, 0);
        inputs.push_back(data);
    }
    for (int kind : {kSampleFlat, kSamplePhoto, kSampleDithered, kSampleTwo, kSampleNoise})
        inputs.push_back(make_sample_image(SampleKind(kind), 96, 64));
    int met = 0, unreachable = 0;
    for (const Bytes& data : inputs) {
        std::vector<bool> reachable((9 * data.size() + 7) / 8 + 2);
        const std::bitset<1 << 16> bits = reachable_bits(data);
        for (size_t b = 0; b <= 9 * data.size(); b++)
            reachable[(b + 7) / 8] = reachable[(b + 7) / 8] || bits[b];
        const size_t smallest = lzss_encode(data).size();
        for (LzssEncodeOptions options : {LzssEncodeOptions{0, true}, LzssEncodeOptions{2, false}})
            EXPECT_EQ(bytewise(lzss_encode(data, options)), data);
        for (size_t target = data.size() < 100 ? 1 : smallest - 2; target < reachable.size();
             target += data.size() < 100 || target < smallest + 80 ? 1 : 37) {
            Bytes stream;
            const int result =
                lzss_encode_into(data.data(), data.size(), &stream, {0, 0, 0, target});
            ASSERT_EQ(result == kLzssEncoded, reachable[target]) << data.size() << " " << target;
            met += reachable[target];
            unreachable += target >= smallest && !reachable[target];
            if (result == kLzssEncoded) {
                ASSERT_EQ(stream.size(), target);
                ASSERT_EQ(bytewise(stream), data) << target;
                continue;
            }
            EXPECT_EQ(stream.size(), smallest);
            EXPECT_EQ(result, target < smallest ? kLzssTooLarge : kLzssUnreachable);
        }
    }
    std::printf("targets met: %d, unreachable: %d\n", met, unreachable);
    const Bytes big = random_bytes(rng, 300000, 3);
    EXPECT_EQ(lzss_encode(big, {0, false, 1}), lzss_encode(big, {0, false, 4}));
}

// A stream too large is fitted by changing only bytes that may change: the changed data makes a
// stream of exactly the size; data that fits is not changed.
TEST(Lzss, FitsByChangingBytes) {
    std::mt19937 rng(12);
    std::vector<float> cost(256 * 256);
    for (size_t i = 0; i < cost.size(); i++)
        cost[i] = i / 256 == i % 256 ? 0 : 1 + std::abs(int(i / 256) - int(i % 256)) / 8.0f;
    for (int kind : {kSamplePhoto, kSampleDithered, kSampleTwo}) {
        const Bytes data = make_sample_image(SampleKind(kind), 40, 30);
        const Bytes may = random_bytes(rng, data.size(), 2);
        const size_t smallest = lzss_encode(data).size();
        for (size_t target : {smallest + 3, smallest - 1, smallest - 9, smallest - 40}) {
            Bytes stream, changed;
            ASSERT_EQ(lzss_encode_lossy(data.data(), data.size(), {cost.data(), may.data(), 40},
                                        target, &changed),
                      kLzssEncoded)
                << kind << " " << target << " of " << smallest;
            ASSERT_EQ(lzss_encode_into(changed.data(), changed.size(), &stream, {0, 0, 0, target}),
                      kLzssEncoded);
            for (size_t i = 0; i < data.size(); i++)
                ASSERT_TRUE(may[i] || changed[i] == data[i]) << i;
            EXPECT_EQ(changed == data, target > smallest) << kind << " " << target;
        }
    }
}

// An edited entry's stream keeps the old one's items before the first change, as many as leave
// room for the rest; an unchanged one is the old stream itself.
TEST(Lzss, KeepsTheOldStreamUpToTheChange) {
    for (int kind : {kSamplePhoto, kSampleFlat, kSampleTwo}) {
        const Bytes data = make_sample_image(SampleKind(kind), 64, 48);
        const Bytes old = lzss_encode(data, {0, true}); // greedy: a little slack
        Bytes out;
        ASSERT_EQ(lzss_encode_after(data.data(), data.size(), old.data(), old.size(), &out,
                                    {0, 0, 0, old.size()}),
                  kLzssEncoded);
        EXPECT_EQ(out, old);
        for (size_t at : {size_t(0), size_t(100), data.size() / 2, data.size() - 1040}) {
            Bytes edit = data;
            edit[at] ^= 1;
            for (size_t target : {old.size(), lzss_encode(edit).size()}) {
                SCOPED_TRACE(testing::Message() << kind << " " << at << " " << target);
                ASSERT_EQ(lzss_encode_after(edit.data(), edit.size(), old.data(), old.size(), &out,
                                            {0, 0, 0, target}),
                          kLzssEncoded);
                EXPECT_EQ(out.size(), target);
                EXPECT_EQ(bytewise(out), edit);
                // With the old size, the old stream is kept up to near the change.
                const size_t same =
                    size_t(std::mismatch(out.begin(), out.end(), old.begin(), old.end()).first -
                           out.begin());
                if (target == old.size() && at > 1000) {
                    EXPECT_GT(same, old.size() / 8);
                }
            }
        }
    }
}

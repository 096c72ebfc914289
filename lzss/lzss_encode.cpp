#include <algorithm>
#include <bit>
#include <cstring>

#include "lzss.h"

namespace {

constexpr size_t kWindow = kLzssWindowSize;
constexpr size_t kMinMatch = kLzssMinMatch;
constexpr size_t kMaxMatch = kLzssMaxMatch;
constexpr int kHashBits = 15;
constexpr uint32_t kLiteralBits = 9, kReferenceBits = 17;

uint32_t hash3(const uint8_t* p) {
    return ((p[0] << 16 | p[1] << 8 | p[2]) * 2654435761u) >> (32 - kHashBits);
}

// How many of the first `limit` bytes at `a` and `b` agree, compared eight at
// a time: both may be read up to 24 bytes on.
size_t match_length(const uint8_t* a, const uint8_t* b, size_t limit) {
    for (size_t len = 0; len < limit; len += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + len, 8);
        std::memcpy(&y, b + len, 8);
        if (x != y) return std::min(limit, len + std::countr_zero(x ^ y) / 8);
    }
    return limit;
}

// Hash chains over `hist`: the data behind 4096 zero bytes, which stand for
// the decoder's initial window, so that matches into it are ordinary matches.
// Only the last 4096 positions can be reached, so the links live in a ring.
struct MatchFinder {
    const std::vector<uint8_t>& hist; // 24 bytes of padding after `end`
    const size_t end;
    std::vector<int32_t> head = std::vector<int32_t>(size_t{1} << kHashBits, -1);
    std::vector<int32_t> prev = std::vector<int32_t>(kWindow, -1);

    void insert(size_t pos) {
        if (pos + kMinMatch > end) return;
        int32_t& first = head[hash3(&hist[pos])];
        prev[pos % kWindow] = first;
        first = static_cast<int32_t>(pos);
    }

    // The longest match at `pos` (0 when under three bytes) and its distance.
    size_t find(size_t pos, int candidates, size_t* distance) const {
        const size_t limit = std::min(kMaxMatch, end - pos);
        if (limit < kMinMatch) return 0;
        size_t best = kMinMatch - 1;
        int tries = candidates > 0 ? candidates : INT32_MAX;
        for (int32_t cand = head[hash3(&hist[pos])];
             cand >= 0 && pos - static_cast<size_t>(cand) <= kWindow && tries-- > 0;
             cand = prev[static_cast<size_t>(cand) % kWindow]) {
            const uint8_t* a = &hist[static_cast<size_t>(cand)];
            const uint8_t* b = &hist[pos];
            if (a[best] != b[best]) continue;
            const size_t len = match_length(a, b, limit);
            if (len > best) {
                best = len;
                *distance = pos - static_cast<size_t>(cand);
                if (len == limit) break;
            }
        }
        return best >= kMinMatch ? best : 0;
    }
};

// Collects items into groups: one flag byte, then up to eight items.
struct GroupWriter {
    std::vector<uint8_t>& out;
    size_t flag_at = 0;
    int items = 8;

    void literal(uint8_t byte) {
        start_item(true);
        out.push_back(byte);
    }

    // A reference to the bytes `distance` behind the write index.  The
    // decoder reads at window index position + 18 and writes its first byte
    // at index 0, so the write index is the count of bytes output, and the
    // position is that count less the distance, less 18.
    void reference(size_t written, size_t distance, size_t length) {
        start_item(false);
        const size_t position = (written - distance - kLzssPositionBias) & (kWindow - 1);
        out.push_back(static_cast<uint8_t>(position));
        out.push_back(static_cast<uint8_t>((position >> 8) << 4 | (length - kMinMatch)));
    }

    void start_item(bool is_literal) {
        if (items == 8) {
            flag_at = out.size();
            out.push_back(0);
            items = 0;
        }
        if (is_literal) out[flag_at] |= static_cast<uint8_t>(1 << items);
        items++;
    }
};

} // namespace

std::vector<uint8_t> lzss_encode(const uint8_t* data, size_t size, LzssEncodeOptions options) {
    std::vector<uint8_t> hist(kWindow + size + 24, 0);
    std::copy(data, data + size, hist.begin() + kWindow);
    MatchFinder finder{hist, kWindow + size};
    for (size_t pos = 0; pos < kWindow; pos++)
        finder.insert(pos);

    // The longest match at every position, then the cheapest way from each
    // position to the end; `length` ends up holding the item chosen there
    // (1: a literal).
    std::vector<uint8_t> length(size);
    std::vector<uint16_t> distance(size);
    for (size_t i = 0; i < size; i++) {
        size_t d = 0;
        length[i] = static_cast<uint8_t>(finder.find(kWindow + i, options.candidates, &d));
        distance[i] = static_cast<uint16_t>(d);
        finder.insert(kWindow + i);
    }
    if (options.greedy) {
        for (uint8_t& len : length)
            len = std::max<uint8_t>(len, 1);
    } else {
        std::vector<uint32_t> cost(size + 1, 0);
        for (size_t i = size; i-- > 0;) {
            uint32_t best = cost[i + 1] + kLiteralBits;
            size_t choice = 1;
            for (size_t len = kMinMatch; len <= length[i]; len++) {
                if (cost[i + len] + kReferenceBits < best) {
                    best = cost[i + len] + kReferenceBits;
                    choice = len;
                }
            }
            cost[i] = best;
            length[i] = static_cast<uint8_t>(choice);
        }
    }

    std::vector<uint8_t> out;
    out.reserve(size + size / 8 + 16);
    GroupWriter groups{out};
    for (size_t i = 0; i < size; i += length[i]) {
        if (length[i] == 1)
            groups.literal(data[i]);
        else
            groups.reference(i, distance[i], length[i]);
    }
    return out;
}

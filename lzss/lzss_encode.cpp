#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "lzss.h"

namespace {

constexpr size_t kWindow = kLzssWindowSize;
constexpr size_t kMinMatch = kLzssMinMatch;
constexpr size_t kMaxMatch = kLzssMaxMatch;
constexpr uint32_t kLiteralBits = 9, kReferenceBits = 17;
constexpr size_t kPieceMin = size_t{1} << 16; // bytes of data per thread at least

// A hash of `bits` bits of the first `bytes` (3 to 16) bytes at `p`, which
// may be read 16 bytes on.
uint32_t hash_prefix(const uint8_t* p, size_t bytes, int bits) {
    uint64_t v, w = 0; // little-endian: the first bytes are the low ones
    std::memcpy(&v, p, 8);
    if (bytes > 8) {
        std::memcpy(&w, p + 8, 8);
        w &= ~uint64_t{0} >> (128 - 8 * bytes);
    } else {
        v &= ~uint64_t{0} >> (64 - 8 * bytes);
    }
    return static_cast<uint32_t>(((v ^ w * 0xC2B2AE3D27D4EB4Fu) * 0x9E3779B97F4A7C15u) >>
                                 (64 - bits));
}

// The prefix length that picks a position's tree: the longest, up to 12, for
// which the data's alphabet (the byte values that make up more than 1/4096 of
// it: a palette does not count) makes at most 4096 prefixes, one per position
// in the window.  Few colours give many equal short prefixes and so deep
// trees; keyed by longer prefixes the trees stay small.
size_t tree_prefix(const uint8_t* data, size_t size) {
    size_t counts[256] = {};
    for (size_t i = 0; i < size; i++)
        counts[data[i]]++;
    uint64_t alphabet = 0;
    for (size_t count : counts)
        alphabet += count > size / 4096;
    size_t prefix = kMinMatch;
    for (uint64_t kinds = alphabet * alphabet * alphabet * alphabet; // alphabet^(prefix + 1)
         prefix < 12 && kinds <= kWindow; kinds *= alphabet)
        prefix++;
    return prefix;
}

// Binary trees over `hist`: the data behind 4096 zero bytes, which stand for
// the decoder's initial window, so that matches into it are ordinary matches.
//
// Each tree holds the positions whose first `prefix` bytes share a hash,
// ordered by the 18 bytes from there on (strings equal in all 18 keep only
// the nearest: a match with the farther one is never longer).  A position
// enters as the root: the walk from the old root down to where it belongs
// splits the tree into the parts below and above it, which become its
// children.  So every node is nearer than the nodes under it, and the first
// node out of the window's reach ends the walk with everything under it.  The
// longest match is with the string just below or just above the new one, and
// the walk meets both: it is exact in about log(window) steps on any data.
//
// That finds every match of `prefix` bytes or more.  For shorter ones each
// length n from 3 to `prefix` - 1 has hash chains of the positions by their
// first n bytes; when the tree finds no match of `prefix` bytes, the chains
// from the longest n down find the nearest position that shares n bytes.
//
// Children live in a ring of twice the window, so that a position still in
// reach never shares its slot with the one being entered; chain links in a
// ring of the window, as a position's link is written after its lookup.
struct MatchFinder {
    const uint8_t* hist; // 24 bytes of padding after `end`
    const size_t end;
    const size_t prefix;
    const int bits;                                // of the hashes: up to 15, fewer for less data
    const int chain_bits = std::max(10, bits - 3); // chains are walked only now and then
    // All in one block, -1 where no position is: one allocation is reused
    // by the allocator from call to call, several small ones are not.
    std::vector<int32_t> tables = std::vector<int32_t>((size_t{1} << bits) + 4 * kWindow +
                                                           ((prefix - kMinMatch) << chain_bits) +
                                                           (prefix - kMinMatch) * kWindow,
                                                       -1);
    int32_t* const root = tables.data();
    int32_t* const children = root + (size_t{1} << bits);
    int32_t* const heads = children + 4 * kWindow;
    int32_t* const links = heads + ((prefix - kMinMatch) << chain_bits);

    int32_t* child(int64_t node, int side) {
        return &children[2 * (static_cast<size_t>(node) & (2 * kWindow - 1)) + side];
    }

    // Enters `pos` and returns the longest match there (0 when under three
    // bytes) and its distance.  `depth` > 0 stops a tree's walk after that
    // many nodes.  Near the end a key runs on into the padding; the longest
    // agreement with any key, cut to the bytes left, is still the longest
    // match, as the bytes before the end are the position's own.
    size_t enter(size_t pos, int depth, size_t* distance) {
        const uint8_t* in = hist + pos;
        const int64_t reach = std::max<int64_t>(0, static_cast<int64_t>(pos) - kWindow);
        int32_t& top = root[hash_prefix(in, prefix, bits)];
        int64_t node = top;
        top = static_cast<int32_t>(pos);
        // Where the next node less than `in` goes and where the next greater
        // one goes, and how many bytes the last nodes put there share with `in`.
        uintptr_t below = reinterpret_cast<uintptr_t>(child(pos, 0));
        uintptr_t above = reinterpret_cast<uintptr_t>(child(pos, 1));
        size_t len_below = 0, len_above = 0, best = 0, len = 0, best_node = 0;
        for (int tries = depth > 0 ? depth : INT32_MAX; node >= reach && tries-- > 0;) {
            // `len` bytes agree already: the nodes passed on both sides share them.
            const uint8_t* m = hist + node;
            uint64_t x, y;
            do {
                std::memcpy(&x, m + len, 8);
                std::memcpy(&y, in + len, 8);
            } while (x == y && (len += 8) < kMaxMatch);
            const int shift = x == y ? 0 : std::countr_zero(x ^ y) & ~7;
            len = x == y ? kMaxMatch : std::min(kMaxMatch, len + shift / 8);
            best_node = len > best ? static_cast<size_t>(node) : best_node;
            best = std::max(best, len);
            if (len == kMaxMatch) { // the same key: `pos` takes the node's place
                *reinterpret_cast<int32_t*>(below) = *child(node, 0);
                *reinterpret_cast<int32_t*>(above) = *child(node, 1);
                break;
            }
            // Chosen by masks rather than branches: the side is a coin toss.
            const bool less = (x >> shift & 0xFF) < (y >> shift & 0xFF);
            const uintptr_t next = reinterpret_cast<uintptr_t>(child(node, less));
            const uintptr_t pick = 0 - static_cast<uintptr_t>(less);
            *reinterpret_cast<int32_t*>((below & pick) | (above & ~pick)) =
                static_cast<int32_t>(node);
            below = (next & pick) | (below & ~pick);
            above = (above & pick) | (next & ~pick);
            len_below = (len & pick) | (len_below & ~pick);
            len_above = (len_above & pick) | (len & ~pick);
            node = *reinterpret_cast<const int32_t*>(next);
            len = std::min(len_below, len_above);
        }
        if (len < kMaxMatch)
            *reinterpret_cast<int32_t*>(below) = *reinterpret_cast<int32_t*>(above) = -1;

        // Shorter prefixes: look up the longest not yet found, then chain `pos`.
        for (size_t n = prefix; n-- > kMinMatch;) {
            int32_t& head = heads[((n - kMinMatch) << chain_bits) + hash_prefix(in, n, chain_bits)];
            int32_t* link = &links[(n - kMinMatch) * kWindow];
            for (int64_t cand = head; best < n && cand >= reach;
                 cand = link[static_cast<size_t>(cand) % kWindow]) {
                if (std::memcmp(hist + cand, in, n) == 0) {
                    best = n; // no longer: the tree would have found it
                    best_node = static_cast<size_t>(cand);
                }
            }
            link[pos % kWindow] = head;
            head = static_cast<int32_t>(pos);
        }
        *distance = pos - best_node;
        best = std::min(best, end - pos);
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

// The longest match (0: none) and its distance at data positions [from, to),
// with a finder of its own that first enters the 4096 positions before
// `from`: the trees it walks from then on are those of one pass from the
// start, so any split gives the same matches.
void find_matches(const std::vector<uint8_t>& hist, size_t prefix, size_t from, size_t to,
                  int depth, uint8_t* length, uint16_t* distance) {
    const int bits = std::min(15, static_cast<int>(std::bit_width(hist.size())));
    MatchFinder finder{hist.data(), hist.size() - 24, prefix, bits};
    size_t unused = 0;
    for (size_t pos = from; pos < from + kWindow; pos++)
        finder.enter(pos, depth, &unused);
    for (size_t pos = kWindow + from; pos < kWindow + to; pos++) {
        size_t d = 0;
        length[pos - kWindow] = static_cast<uint8_t>(finder.enter(pos, depth, &d));
        distance[pos - kWindow] = static_cast<uint16_t>(d);
    }
}

} // namespace

namespace {

// The parse: at each position where an item starts, its length (1: a
// literal) and, for a reference, its distance.  The items before `fixed`
// are another stream's, kept as they are: padding leaves them alone.
struct Parse {
    std::vector<uint8_t> length;
    std::vector<uint16_t> distance;
    std::vector<uint8_t> longest; // the longest match at each position, kept for padding
    size_t fixed = 0;
};

Parse parse(const uint8_t* data, size_t size, LzssEncodeOptions options) {
    std::vector<uint8_t> hist;
    hist.reserve(kWindow + size + 24);
    hist.resize(kWindow);
    hist.insert(hist.end(), data, data + size);
    hist.resize(hist.size() + 24);

    // The longest match at every position, found in pieces side by side,
    // then the cheapest way from each position to the end; `length` ends up
    // holding the item chosen there (1: a literal).
    Parse p{std::vector<uint8_t>(size), std::vector<uint16_t>(size), {}};
    std::vector<uint8_t>& length = p.length;
    const size_t threads = options.threads > 0 ? static_cast<size_t>(options.threads)
                                               : std::max(1u, std::thread::hardware_concurrency());
    const size_t pieces = std::clamp<size_t>(size / kPieceMin, 1, threads);
    const size_t prefix = tree_prefix(data, size);
    auto search = [&](size_t k) {
        find_matches(hist, prefix, size * k / pieces, size * (k + 1) / pieces, options.candidates,
                     length.data(), p.distance.data());
    };
    // A thread the system refuses (std::thread reports that by throwing)
    // leaves its piece and those after it to this one.
    std::vector<std::thread> helpers;
    helpers.reserve(pieces);
    size_t given = 1;
    try {
        for (; given < pieces; given++)
            helpers.emplace_back(search, given);
    } catch (const std::system_error&) {}
    search(0);
    for (size_t k = given; k < pieces; k++)
        search(k);
    for (std::thread& helper : helpers)
        helper.join();
    if (options.greedy) {
        for (uint8_t& len : length)
            len = std::max<uint8_t>(len, 1);
        return p;
    }
    if (options.target_size > 0) p.longest = length;
    // The cost from position j on, for the 18 positions after i, at
    // [j % 32] and again at [j % 32 + 32]: those after i lie side by side.
    uint32_t cost[64] = {};
    for (size_t i = size; i-- > 0;) {
        const uint32_t* after = cost + (i + 1) % 32; // [k]: from i + 1 + k on
        const size_t longest = length[i];
        uint32_t nearest = UINT32_MAX; // the cheapest rest after a reference
        for (size_t k = kMinMatch - 1; k < longest; k++)
            nearest = std::min(nearest, after[k]);
        size_t choice = 1; // a literal, unless a reference is cheaper: the shortest then
        if (longest >= kMinMatch && nearest + kReferenceBits < after[0] + kLiteralBits)
            for (choice = kMinMatch; after[choice - 1] != nearest;)
                choice++;
        cost[i % 32] = cost[i % 32 + 32] =
            choice == 1 ? after[0] + kLiteralBits : nearest + kReferenceBits;
        length[i] = static_cast<uint8_t>(choice);
    }
    return p;
}

// Takes `count` bytes off the fronts of references of 4 or more as
// literals, 9 bits each (the rest still matches at the same distance).
void peel(Parse& p, uint64_t count) {
    for (size_t i = p.fixed; i < p.length.size() && count > 0;) {
        const size_t n = p.length[i];
        if (n > kMinMatch) {
            const size_t take = std::min<uint64_t>(count, n - kMinMatch);
            std::fill_n(p.length.begin() + static_cast<ptrdiff_t>(i), take, 1);
            p.length[i + take] = static_cast<uint8_t>(n - take);
            p.distance[i + take] = p.distance[i];
            count -= take;
        }
        i += n;
    }
}

// Lengthens the stream of `p` by `low` to `high` bits, by parse choices
// alone: a reference of length n written as literals adds 9n - 17 bits (10
// for n = 3), and one byte taken off the front of a reference of 4 or more
// as a literal adds 9.  With k references converted (the k shortest, for
// the fewest bits) and the others' 9-bit steps, s of them in all, every
// amount from their sum 9 (L - 3k) + 10k (L: the k lengths' sum) to 9s + 10k
// can be made that is k more than a multiple of 9, as 9n - 17 is 1 more
// than one.  So for each amount in the window the fewest conversions k are
// tried that leave few enough steps and are the amount mod 9.  False when
// none can be made.
bool pad_by_steps(Parse& p, uint64_t low, uint64_t high) {
    uint64_t count[kMaxMatch + 1] = {}, refs = 0, steps = 0; // references by length
    for (size_t i = p.fixed; i < p.length.size(); i += p.length[i])
        if (p.length[i] > 1) count[p.length[i]]++, refs++, steps += p.length[i] - kMinMatch;
    for (uint64_t add = low; add <= high; add++) {
        uint64_t k = add > 9 * steps ? (add - 9 * steps + 9) / 10 : 0;
        k += (add % 9 + 9 - k % 9) % 9;
        if (k > refs) continue;
        // How many of each length the k shortest are, the bits they add and
        // the steps they take away.
        uint64_t convert[kMaxMatch + 1] = {}, bits = 0, freed = 0;
        for (size_t n = kMinMatch, left = k; n <= kMaxMatch; n++) {
            convert[n] = std::min<uint64_t>(left, count[n]);
            left -= convert[n];
            bits += convert[n] * (9 * n - kReferenceBits);
            freed += convert[n] * (n - kMinMatch);
        }
        if (bits > add || (add - bits) / 9 > steps - freed) continue;
        for (size_t i = p.fixed; i < p.length.size(); i += p.length[i]) {
            const size_t n = p.length[i];
            if (n > 1 && convert[n] > 0) {
                convert[n]--;
                std::fill_n(p.length.begin() + static_cast<ptrdiff_t>(i), n, 1);
            }
        }
        peel(p, (add - bits) / 9);
        return true;
    }
    return false;
}

// Splits up to `count` pairs of a literal and a reference of 5 or more after
// it, where a match of 3 starts at the literal, into two references: a
// 3-byte one at the literal and the rest of the old one, 8 bits more each
// (the same number of items).  Returns how many it split.
uint64_t split_pairs(Parse& p, uint64_t count) {
    uint64_t split = 0;
    for (size_t i = p.fixed; i + 1 < p.length.size() && split < count;) {
        const size_t n = p.length[i + 1];
        if (p.length[i] == 1 && p.longest[i] >= kMinMatch && n >= kMinMatch + 2) {
            p.length[i] = kMinMatch;
            p.length[i + kMinMatch] = static_cast<uint8_t>(n - 2);
            p.distance[i + kMinMatch] = p.distance[i + 1];
            split++;
            i += n + 1;
        } else {
            i += p.length[i];
        }
    }
    return split;
}

// Entries of the exact search's table at most: 16 MiB of it.
constexpr uint64_t kExactCells = uint64_t{1} << 22;

// The exact search, for streams where the steps above fall short.  A stream
// of r references covering c bytes in all has 9 * size - (9c - 17r) bits,
// and the references can cover any c from 3r up to the most that r
// references can cover (a byte off a reference's front is still a match), so
// a window of savings S = 9c - 17r is reachable when some r that is S mod 9
// has 10r <= S and S + 17r <= 9 * most[r].  most[r] is found by dynamic
// programming over (position, references); false when the table would be
// too large or no r fits.
bool pad_exactly(Parse& p, uint64_t low, uint64_t high) {
    const uint64_t size = p.length.size(), start = p.fixed, rest = size - start;
    uint64_t bits = 0;
    for (size_t i = start; i < size; i += p.length[i])
        bits += p.length[i] == 1 ? kLiteralBits : kReferenceBits;
    if (bits + low > 9 * rest) return false;
    const uint64_t top = 9 * rest - bits - low; // the savings' window
    const uint64_t bottom = 9 * rest > bits + high ? 9 * rest - bits - high : 0;
    const uint64_t refs = std::min(rest / kMinMatch, top / 10) + 1;
    if ((rest + 1) * refs > kExactCells) return false;
    // most[(i - start) * refs + r]: the most bytes r references cover from i on; -1: none.
    std::vector<int32_t> table((rest + 1) * refs, -1);
    auto most = [&](uint64_t i) { return &table[(i - start) * refs]; };
    most(size)[0] = 0;
    for (uint64_t i = size; i-- > start;) {
        int32_t* here = most(i);
        std::copy_n(here + refs, refs, here);
        for (uint64_t m = kMinMatch; m <= p.longest[i]; m++) {
            const int32_t* after = most(i + m);
            for (uint64_t r = 1; r < refs; r++)
                if (after[r - 1] >= 0)
                    here[r] = std::max(here[r], static_cast<int32_t>(m) + after[r - 1]);
        }
    }
    for (uint64_t r = 0; r < refs; r++) {
        const int32_t covered = most(start)[r];
        const int64_t first = static_cast<int64_t>(std::max(bottom, 10 * r)),
                      last = std::min(static_cast<int64_t>(top),
                                      9 * int64_t{covered} - 17 * static_cast<int64_t>(r));
        const int64_t saving =
            first + static_cast<int64_t>((r + 9 - static_cast<uint64_t>(first) % 9) % 9);
        if (covered < 0 || saving > last) continue;
        // The references of most[r], shortened to cover c bytes.
        uint64_t left = r;
        for (uint64_t i = start; i < size;) {
            const int32_t want = most(i)[left];
            uint64_t m = 1;
            if (most(i + 1)[left] != want)
                for (m = kMinMatch; static_cast<int32_t>(m) + most(i + m)[left - 1] != want ||
                                    most(i + m)[left - 1] < 0;)
                    m++;
            std::fill_n(p.length.begin() + static_cast<ptrdiff_t>(i), m, 1);
            p.length[i] = static_cast<uint8_t>(m);
            left -= m > 1;
            i += m;
        }
        peel(p, static_cast<uint64_t>(covered) - (static_cast<uint64_t>(saving) + 17 * r) / 9);
        return true;
    }
    return false;
}

// Lengthens the stream of `p` by `low` to `high` bits: by the steps of
// pad_by_steps, after splitting up to 8 pairs (8 splits add what 8 steps of
// 9 bits could), else by the exact search.
bool pad(Parse& p, uint64_t low, uint64_t high) {
    if (pad_by_steps(p, low, high)) return true;
    for (uint64_t e = 1; e <= 8; e++) {
        Parse tried = p;
        if (split_pairs(tried, e) < e) break;
        if (8 * e <= high && pad_by_steps(tried, low > 8 * e ? low - 8 * e : 0, high - 8 * e)) {
            p = std::move(tried);
            return true;
        }
    }
    return pad_exactly(p, low, high);
}

// The start of another stream written in front of a parse's items: its
// bytes, and where the flag byte of its last group is and how many of that
// group's items it holds (8: the group is full, the next item starts one).
struct Kept {
    const uint8_t* bytes = nullptr;
    size_t size = 0, flag_at = 0;
    int items = 8;
};

std::vector<uint8_t> write_stream(const uint8_t* data, const Parse& p, const Kept& kept = {}) {
    std::vector<uint8_t> out(kept.bytes, kept.bytes + kept.size);
    out.reserve(p.length.size() + p.length.size() / 8 + 16);
    if (kept.items < 8) out[kept.flag_at] &= static_cast<uint8_t>((1 << kept.items) - 1);
    GroupWriter groups{out, kept.flag_at, kept.items};
    for (size_t i = p.fixed; i < p.length.size(); i += p.length[i]) {
        if (p.length[i] == 1)
            groups.literal(data[i]);
        else
            groups.reference(i, p.distance[i], p.length[i]);
    }
    return out;
}

// Lengthens the parse `p` to a stream of `target` bytes (0: as it is).
int fit(Parse& p, uint64_t target) {
    uint64_t bits = 0;
    for (size_t i = 0; i < p.length.size(); i += p.length[i])
        bits += p.length[i] == 1 ? kLiteralBits : kReferenceBits;
    if (target > 0 && (bits + 7) / 8 > target) return kLzssTooLarge;
    if (target > 0 && !pad(p, 8 * target - 7 > bits ? 8 * target - 7 - bits : 0, 8 * target - bits))
        return kLzssUnreachable;
    return kLzssEncoded;
}

// An item of a stream: where its bytes start, the flag byte of its group and
// its place there, and the output it gives.
struct Item {
    size_t at, flag_at;
    int place;
    size_t output, length;
};

// The items of `stream` that output only bytes before `same`, in order, and
// after them where the next item would be (its length 0).
std::vector<Item> items_before(const uint8_t* stream, size_t size, size_t same) {
    std::vector<Item> items;
    size_t in = 0, output = 0, flag_at = 0;
    int place = 8;
    for (;;) {
        if (place == 8 && in < size) flag_at = in++, place = 0;
        const bool literal = place < 8 && ((stream[flag_at] >> place) & 1);
        if (place == 8 || in + (literal ? 1 : 2) > size) break;
        const size_t length = literal ? 1 : (stream[in + 1] & 0x0F) + kMinMatch;
        if (output + length > same) break;
        items.push_back({in, flag_at, place, output, length});
        in += literal ? 1 : 2, output += length, place++;
    }
    items.push_back({in, flag_at, place, output, 0});
    return items;
}

// The changes that a parse costing `lambda` per unit of lossy.cost plans:
// `data` where each byte that a reference covers is the byte it reads in the
// data as it is.  At each position the references tried are those at the
// distances of the longest exact matches there and one before, of the bytes
// before and of the three above (a row of `stride` on).  A byte that may not
// change is covered only by references that read its own value.
std::vector<uint8_t> lossy_plan(const uint8_t* data, const Parse& exact, const LzssLossy& lossy,
                                double lambda) {
    const size_t size = exact.length.size();
    // The cost from position j on, for the 18 positions after i, at [j % 32].
    double cost[32] = {};
    auto rest = [&](size_t j) -> double& { return cost[j % 32]; };
    std::vector<uint8_t> length(size);
    std::vector<uint16_t> distance(size);
    for (size_t i = size; i-- > 0;) {
        rest(i) = rest(i + 1) + kLiteralBits, length[i] = 1;
        size_t tried[6] = {
            exact.distance[i], i ? exact.distance[i - 1] : 0u, 1, lossy.stride - 1, lossy.stride,
            lossy.stride + 1};
        for (size_t c = 0; c < 6; c++) {
            const size_t d = tried[c];
            if (d == 0 || d > kWindow || std::find(tried, tried + c, d) != tried + c) continue;
            double changes = 0;
            for (size_t n = 1; n <= kMaxMatch && i + n <= size; n++) {
                const size_t at = i + n - 1, from = at + kWindow - d; // in the history
                const uint8_t byte = from < kWindow ? 0 : data[from - kWindow], want = data[at];
                if (byte != want && !lossy.may_change[at]) break;
                changes += lossy.cost[byte * 256 + want];
                const double total = kReferenceBits + lambda * changes + rest(i + n);
                if (n < kMinMatch || total >= rest(i)) continue;
                rest(i) = total;
                length[i] = static_cast<uint8_t>(n), distance[i] = static_cast<uint16_t>(d);
            }
        }
    }
    std::vector<uint8_t> planned(data, data + size);
    for (size_t i = 0; i < size; i += length[i])
        for (size_t k = 0; length[i] > 1 && k < length[i]; k++) {
            const size_t from = i + k + kWindow - distance[i];
            planned[i + k] = from < kWindow ? 0 : data[from - kWindow];
        }
    return planned;
}

} // namespace

int lzss_encode_into(const uint8_t* data, size_t size, std::vector<uint8_t>* out,
                     LzssEncodeOptions options) {
    Parse p = parse(data, size, options);
    const int result = fit(p, options.target_size);
    *out = write_stream(data, p);
    return result;
}

int lzss_encode_after(const uint8_t* data, size_t size, const uint8_t* old, size_t old_size,
                      std::vector<uint8_t>* out, LzssEncodeOptions options) {
    std::vector<uint8_t> decoded(9 * old_size);
    decoded.resize(static_cast<size_t>(
        decode_stored_buffer(old, static_cast<int64_t>(old_size), decoded.data())));
    const size_t same = static_cast<size_t>(
        std::mismatch(data, data + std::min(size, decoded.size()), decoded.begin()).first - data);
    if (same == size && decoded.size() == size) {
        out->assign(old, old + old_size);
        return kLzssEncoded;
    }
    const std::vector<Item> items = items_before(old, old_size, same);
    const Parse whole = parse(data, size, options);
    // With the first `count` items of `old` kept.
    auto attempt = [&](size_t count) {
        Parse p = whole;
        for (size_t k = 0; k < count; k++)
            p.length[items[k].output] = static_cast<uint8_t>(items[k].length);
        const Item& next = items[count];
        p.fixed = next.output;
        const int result = fit(p, options.target_size);
        // An item first in its group: the stream is kept up to its flag byte.
        const bool group_starts = next.place == 0 || next.place == 8;
        const Kept kept{old, next.place == 0 ? next.flag_at : next.at, next.flag_at,
                        group_starts ? 8 : next.place};
        *out = write_stream(data, p, count > 0 ? kept : Kept{});
        return result;
    };
    // The most items kept that leave room for the rest: fewer leave more choice.
    size_t low = 0, high = items.size() - 1;
    if (attempt(high) == kLzssEncoded) return kLzssEncoded;
    while (low + 1 < high) {
        const size_t middle = (low + high) / 2;
        (attempt(middle) == kLzssEncoded ? low : high) = middle;
    }
    return attempt(low);
}

int lzss_encode_lossy(const uint8_t* data, size_t size, const LzssLossy& lossy, uint64_t target,
                      std::vector<uint8_t>* changed) {
    LzssEncodeOptions options;
    options.target_size = target;
    const Parse exact = parse(data, size, options);
    std::vector<uint8_t> planned;
    auto fits = [&](double weight) {
        planned = lossy_plan(data, exact, lossy, weight);
        Parse p = parse(planned.data(), size, options);
        return fit(p, target) == kLzssEncoded;
    };
    // The largest weight of the changes whose data fits, between 2^-12, where
    // nearly any change is worth a bit, and 2^20, where none is; halved
    // geometrically (a square root rounds the same everywhere).
    double low = 1.0 / 4096, high = 1 << 20;
    if (!fits(low)) return kLzssTooLarge;
    changed->swap(planned);
    for (int step = 0; step < 16; step++) {
        const double middle = std::sqrt(low * high);
        const bool fitted = fits(middle);
        (fitted ? low : high) = middle;
        if (fitted) changed->swap(planned);
    }
    return kLzssEncoded;
}

std::vector<uint8_t> lzss_encode(const uint8_t* data, size_t size, LzssEncodeOptions options) {
    std::vector<uint8_t> out;
    options.target_size = 0;
    lzss_encode_into(data, size, &out, options);
    return out;
}

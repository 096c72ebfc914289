#include "fit.h"

#include <algorithm>
#include <cstdint>

#include "kzp/colour.h"
#include "kzp/kzp.h"
#include "lzss/lzss.h"

namespace {

// What every way of fitting works on.
struct Work {
    const FitInput& in;
    size_t from;                // where the pixels start in the decoded images
    const uint8_t* wanted;      // the pixels as they were to go back
    const uint8_t* entry;       // the entry's pixels
    size_t width;               // of the picture
    const Oklab* lab;           // the palette's colours
    std::vector<float> apart;   // [a * 256 + b]: delta E OK of the palette's colours a and b
    std::vector<uint32_t> edit; // the edit's pixels, in order
};

// Whether `image` makes a stream of the entry's size (the entry's own image
// does: its stream is one).
bool fits(const Work& w, const std::vector<uint8_t>& image) {
    if (image == *w.in.entry) return true;
    std::vector<uint8_t> stream;
    LzssEncodeOptions options;
    options.target_size = w.in.size;
    return lzss_encode_into(image.data(), image.size(), &stream, options) == kLzssEncoded;
}

float apart(const Work& w, uint8_t a, uint8_t b) {
    return w.apart[a * 256 + b];
}

// How much `image` shows: the sum over the edit of its colours' distances
// from the wanted ones.
double shows(const Work& w, const std::vector<uint8_t>& image) {
    double sum = 0;
    for (uint32_t i : w.edit)
        sum += apart(w, image[w.from + i], w.wanted[i]);
    return sum;
}

// The least `k` in (low, high] for which make(k) fits, given that make(low)
// does not, or `low` when make(high) does not fit either; make(k) is left in
// `image`.  Fitting grows with k, nearly always: the search takes that it
// does.
template <typename Make>
size_t least_that_fits(const Work& w, size_t low, size_t high, Make make,
                       std::vector<uint8_t>* image) {
    make(high, image);
    if (!fits(w, *image)) return low;
    while (high - low > 1) {
        const size_t middle = low + (high - low) / 2;
        make(middle, image);
        (fits(w, *image) ? high : low) = middle;
    }
    make(high, image);
    return high;
}

// A pixel's new value.
struct Step {
    uint32_t pixel;
    uint8_t value;
};

// `steps` sorted by how far each takes its pixel from the wanted colour, the
// nearest first (in order where equal).
void nearest_first(const Work& w, std::vector<Step>& steps) {
    std::stable_sort(steps.begin(), steps.end(), [&](const Step& a, const Step& b) {
        return apart(w, a.value, w.wanted[a.pixel]) < apart(w, b.value, w.wanted[b.pixel]);
    });
}

// Back as it was: the fewest steps of the ladder that fit, where the ladder
// takes dithered pixels to their nearest colours, then pixels back to the
// entry's, each part the smallest changes first.
bool back_as_it_was(const Work& w, std::vector<uint8_t>* image) {
    std::vector<Step> ladder, back;
    for (uint32_t i : w.edit) {
        if (w.in.nearest && (*w.in.nearest)[w.from + i] != w.wanted[i])
            ladder.push_back({i, (*w.in.nearest)[w.from + i]});
        if (w.entry[i] != w.wanted[i]) back.push_back({i, w.entry[i]});
    }
    nearest_first(w, ladder);
    nearest_first(w, back);
    ladder.insert(ladder.end(), back.begin(), back.end());
    auto make = [&](size_t steps, std::vector<uint8_t>* out) {
        *out = *w.in.wanted;
        for (size_t k = 0; k < steps; k++)
            (*out)[w.from + ladder[k].pixel] = ladder[k].value;
    };
    return least_that_fits(w, 0, ladder.size(), make, image) > 0;
}

// Groups of colours: group[c] names the group of the colour c (each colour
// alone at first).  Each way of grouping puts the colours that `uses` counts
// (uses[c] > 0) into `count` groups, or as few as it can.
using Grouping = void (*)(const Work& w, const uint64_t* uses, size_t count, uint8_t* group);

// Median cut in OKLab: the group of most spread (the sum of its uses' squared
// distances from its mean) is split at its median use along the axis of its
// widest extent, until there are `count` groups or none can be split.
void median_cut(const Work& w, const uint64_t* uses, size_t count, uint8_t* group) {
    std::vector<std::vector<uint8_t>> groups(1);
    for (int c = 0; c < 256; c++)
        if (uses[c]) groups[0].push_back(static_cast<uint8_t>(c));
    auto axis = [&](uint8_t c, int k) {
        return k == 0 ? w.lab[c].l : k == 1 ? w.lab[c].a : w.lab[c].b;
    };
    auto spread = [&](const std::vector<uint8_t>& g) {
        double sum[3] = {}, squares = 0, n = 0;
        for (uint8_t c : g) {
            const double u = static_cast<double>(uses[c]);
            for (int k = 0; k < 3; k++)
                sum[k] += u * axis(c, k), squares += u * axis(c, k) * axis(c, k);
            n += u;
        }
        return squares - (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / n;
    };
    while (groups.size() < count) {
        size_t widest = 0;
        double most = 0;
        for (size_t g = 0; g < groups.size(); g++) {
            const double s = groups[g].size() > 1 ? spread(groups[g]) : 0;
            if (s > most) most = s, widest = g;
        }
        if (most <= 0) break;
        std::vector<uint8_t>& g = groups[widest];
        int along = 0;
        float extent = -1;
        for (int k = 0; k < 3; k++) {
            float low = axis(g[0], k), high = low;
            for (uint8_t c : g)
                low = std::min(low, axis(c, k)), high = std::max(high, axis(c, k));
            if (high - low > extent) extent = high - low, along = k;
        }
        std::stable_sort(g.begin(), g.end(),
                         [&](uint8_t x, uint8_t y) { return axis(x, along) < axis(y, along); });
        uint64_t total = 0;
        for (uint8_t c : g)
            total += uses[c];
        size_t cut = 1;
        for (uint64_t below = uses[g[0]]; cut + 1 < g.size() && 2 * (below + uses[g[cut]]) <= total;
             cut++)
            below += uses[g[cut]];
        groups.emplace_back(g.begin() + static_cast<ptrdiff_t>(cut), g.end());
        groups[widest].resize(cut);
    }
    for (const std::vector<uint8_t>& g : groups)
        for (uint8_t c : g)
            group[c] = g[0];
}

// The least used colour merged into the one nearest to it, again and again.
void merge_rarest(const Work& w, const uint64_t* uses, size_t count, uint8_t* group) {
    uint64_t now[256];
    std::vector<uint8_t> alive;
    for (int c = 0; c < 256; c++) {
        now[c] = uses[c];
        if (uses[c]) alive.push_back(static_cast<uint8_t>(c));
    }
    while (alive.size() > std::max<size_t>(count, 1)) {
        size_t rarest = 0;
        for (size_t k = 1; k < alive.size(); k++)
            if (now[alive[k]] < now[alive[rarest]]) rarest = k;
        const uint8_t gone = alive[rarest];
        alive.erase(alive.begin() + static_cast<ptrdiff_t>(rarest));
        uint8_t into = alive[0];
        for (uint8_t c : alive)
            if (apart(w, c, gone) < apart(w, into, gone)) into = c;
        now[into] += now[gone];
        for (int c = 0; c < 256; c++)
            group[c] = group[c] == gone ? into : group[c];
    }
}

// Fewer colours: the edit posterised to the most colours that fit, or to fewer
// where that shows less.  The colours are those of `base` (the pixels wanted,
// or as nearest colours map them) in the edit, or those of its
// bounding box (the colours it lies among go into groups too), grouped by
// `grouping`; each group's pixels of the edit take the palette colour nearest
// to them all (the least sum of distances), or, `mixed`, each the nearer of
// that and the entry's colour.
bool fewer_colours(const Work& w, const uint8_t* base, Grouping grouping, bool box, bool mixed,
                   std::vector<uint8_t>* image) {
    uint64_t in_edit[256] = {}, uses[256] = {};
    for (uint32_t i : w.edit)
        in_edit[base[i]]++;
    std::copy_n(in_edit, 256, uses);
    if (box) {
        size_t left = w.width, right = 0;
        for (uint32_t i : w.edit)
            left = std::min(left, i % w.width), right = std::max(right, i % w.width + 1);
        std::fill_n(uses, 256, 0);
        for (size_t y = w.edit.front() / w.width; y <= w.edit.back() / w.width; y++)
            for (size_t x = left; x < right; x++)
                uses[base[y * w.width + x]]++;
    }
    const size_t colours =
        static_cast<size_t>(std::count_if(uses, uses + 256, [](uint64_t n) { return n > 0; }));
    // With `dropped` groups fewer than colours.
    auto make = [&](size_t dropped, std::vector<uint8_t>* out) {
        uint8_t group[256], to[256];
        for (int c = 0; c < 256; c++)
            group[c] = static_cast<uint8_t>(c);
        grouping(w, uses, colours - dropped, group);
        std::vector<uint8_t> members[256];
        for (int c = 0; c < 256; c++)
            if (in_edit[c]) members[group[c]].push_back(static_cast<uint8_t>(c));
        for (int g = 0; g < 256; g++) {
            double least = -1;
            for (int p = 0; p < 256 && !members[g].empty(); p++) {
                double sum = 0;
                for (uint8_t c : members[g])
                    sum += static_cast<double>(in_edit[c]) * apart(w, static_cast<uint8_t>(p), c);
                if (least < 0 || sum < least) least = sum, to[g] = static_cast<uint8_t>(p);
            }
        }
        *out = *w.in.wanted;
        for (uint32_t i : w.edit) {
            const uint8_t want = base[i], colour = to[group[want]];
            const bool back = dropped == colours ||
                              (mixed && apart(w, w.entry[i], want) <= apart(w, colour, want));
            (*out)[w.from + i] = back ? w.entry[i] : colour;
        }
    };
    const size_t most = mixed ? colours : colours - 1;
    const size_t found = least_that_fits(w, 0, most, make, image);
    if (found == 0) return false;
    // Fewer groups fit too, nearly always: the least visible of the few that show least.
    std::vector<std::pair<double, size_t>> shown;
    std::vector<uint8_t> trial;
    for (size_t dropped = found + 1; dropped <= most; dropped++) {
        make(dropped, &trial);
        shown.emplace_back(shows(w, trial), dropped);
    }
    std::stable_sort(shown.begin(), shown.end());
    const double least = shows(w, *image);
    for (size_t k = 0; k < shown.size() && k < 4 && shown[k].first < least; k++) {
        make(shown[k].second, &trial);
        if (fits(w, trial)) {
            image->swap(trial);
            break;
        }
    }
    return true;
}

// Copies: references that copy other bytes inside the edit.
bool copies(const Work& w, std::vector<uint8_t>* image) {
    std::vector<uint8_t> may_change(w.in.wanted->size());
    for (uint32_t i : w.edit)
        may_change[w.from + i] = 1;
    std::vector<float> cost(w.apart);
    for (size_t a = 0; a < 256; a++)
        for (size_t b = 0; b < 256; b++)
            cost[a * 256 + b] += a == b ? 0 : kFitSeen; // fewer changes are worth more
    const LzssLossy lossy{cost.data(), may_change.data(), w.width};
    return lzss_encode_lossy(w.in.wanted->data(), w.in.wanted->size(), lossy, w.in.size, image) ==
           kLzssEncoded;
}

// Undoes the changes in `image` that the stream can do without, the most
// visible first: as many as fit.
void undo_unneeded(const Work& w, std::vector<uint8_t>* image) {
    std::vector<Step> changes;
    for (uint32_t i : w.edit)
        if ((*image)[w.from + i] != w.wanted[i]) changes.push_back({i, (*image)[w.from + i]});
    nearest_first(w, changes);
    std::reverse(changes.begin(), changes.end());
    const std::vector<uint8_t> changed = *image;
    // With `kept` of the changes, the least visible; the others undone.
    auto make = [&](size_t kept, std::vector<uint8_t>* out) {
        *out = changed;
        for (size_t k = 0; k < changes.size() - kept; k++)
            (*out)[w.from + changes[k].pixel] = w.wanted[changes[k].pixel];
    };
    least_that_fits(w, 0, changes.size(), make, image);
}

} // namespace

Fit fit_edit(const FitInput& input) {
    KzpImage wanted, entry;
    kzp_image_parse(input.wanted->data(), static_cast<int64_t>(input.wanted->size()), &wanted);
    kzp_image_parse(input.entry->data(), static_cast<int64_t>(input.entry->size()), &entry);
    Oklab lab[256];
    for (int i = 0; i < 256; i++)
        lab[i] = oklab_of(wanted.palette + 4 * i);
    Work w{input,
           static_cast<size_t>(wanted.pixels - input.wanted->data()),
           wanted.pixels,
           entry.pixels,
           static_cast<size_t>(wanted.width),
           lab,
           std::vector<float>(256 * 256),
           {}};
    for (size_t a = 0; a < 256; a++)
        for (size_t b = 0; b < 256; b++)
            w.apart[a * 256 + b] = delta_e(lab[a], lab[b]);
    const size_t pixels = static_cast<size_t>(wanted.width) * static_cast<size_t>(wanted.height);
    for (size_t i = 0; i < pixels; i++)
        if ((*input.edited)[i]) w.edit.push_back(static_cast<uint32_t>(i));
    Fit best{false, {}, w.edit.size(), 0, 0, 0, 0};
    if (w.edit.empty()) return best; // nothing that may change

    // Every way's fit, the two least visible kept (the first found where equal); then the
    // changes that those can do without undone: the least visible of the two.
    std::vector<std::pair<double, std::vector<uint8_t>>> found;
    std::vector<uint8_t> image;
    auto keep = [&](bool fitted) {
        if (!fitted) return;
        found.emplace_back(shows(w, image), image);
        std::stable_sort(found.begin(), found.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        if (found.size() > 2) found.pop_back();
    };
    keep(back_as_it_was(w, &image));
    // With dithering, the dither's colours and the nearest ones: flat bands fit where a dither
    // posterised does not.
    std::vector<const uint8_t*> bases{w.wanted};
    if (input.nearest) bases.push_back(input.nearest->data() + w.from);
    for (const uint8_t* base : bases)
        for (Grouping grouping : {median_cut, merge_rarest})
            for (bool box : {false, true})
                for (bool mixed : {false, true})
                    keep(fewer_colours(w, base, grouping, box, mixed, &image));
    keep(copies(w, &image));
    if (found.empty()) return best;
    for (auto& [sum, fitted] : found) {
        undo_unneeded(w, &fitted);
        sum = shows(w, fitted);
    }
    const auto least = std::min_element(
        found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    best.fitted = true, best.image = std::move(least->second);
    for (uint32_t i : w.edit) {
        const float d = apart(w, best.image[w.from + i], w.wanted[i]);
        best.changed += d > 0;
        best.largest = std::max(best.largest, d);
    }
    best.mean = static_cast<float>(least->first / static_cast<double>(w.edit.size()));
    // Seen from a step back: each pixel averaged with its eight neighbours, in linear light.
    const size_t height = pixels / w.width;
    auto around = [&](const uint8_t* image, size_t i) {
        float sum[3] = {};
        const size_t x = i % w.width, y = i / w.width;
        for (size_t v = y > 0 ? y - 1 : 0; v <= std::min(y + 1, height - 1); v++)
            for (size_t u = x > 0 ? x - 1 : 0; u <= std::min(x + 1, w.width - 1); u++)
                for (int c = 0; c < 3; c++)
                    sum[c] += linear_of(wanted.palette[4 * image[v * w.width + u] + c]);
        return oklab_of_linear(sum[0] / 9, sum[1] / 9, sum[2] / 9);
    };
    double seen = 0;
    for (uint32_t i : w.edit)
        seen += delta_e(around(best.image.data() + w.from, i), around(w.wanted, i));
    best.seen = static_cast<float>(seen / static_cast<double>(w.edit.size()));
    return best;
}

bool fit_hardly_shows(const Fit& fit) {
    return fit.mean <= kFitMean && fit.seen <= kFitSeen;
}

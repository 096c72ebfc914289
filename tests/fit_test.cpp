#include <gtest/gtest.h>

#include "fit/fit.h"
#include "kzp/colour.h"
#include "kzp/kzp.h"
#include "lzss/lzss.h"
#include "sample_images.h"
#include "test_util.h"

// Random edits of random entries (a block of other colours, or a copy of another part) fit,
// changing only the edit, as reported, and no more than the least-changed pixels put back by hand.
TEST(Fit, ChangesOnlyTheEditAndNoMoreThanByHand) {
    std::mt19937 rng(5);
    const SampleKind kinds[] = {kSamplePhoto, kSampleFlat, kSampleTwo, kSampleDithered};
    int fitted = 0;
    for (int round = 0; round < 40; round++) {
        const int32_t w = 8 + int32_t(rng() % 56), h = 8 + int32_t(rng() % 40);
        const Bytes entry = make_sample_image(kinds[round % 4], w, h);
        const size_t from = entry.size() - 1032 - size_t(w * h),
                     size = round % 3 == 0 ? lzss_encode(entry).size()
                                           : lzss_encode(entry, {0, true}).size();
        KzpImage parsed;
        kzp_image_parse(entry.data(), int64_t(entry.size()), &parsed);
        Bytes wanted = entry;
        const int32_t x0 = int32_t(rng() % size_t(w)), y0 = int32_t(rng() % size_t(h)),
                      x1 = std::min(w, x0 + 1 + int32_t(rng() % 24)),
                      y1 = std::min(h, y0 + 1 + int32_t(rng() % 24));
        const unsigned colours = 1 + rng() % 40;
        for (int32_t y = y0; y < y1; y++)
            for (int32_t x = x0; x < x1; x++)
                wanted[from + size_t(y * w + x)] = round % 2
                                                       ? uint8_t(rng() % colours)
                                                       : entry[from + size_t((y * 7 % h) * w + x)];
        Bytes edited(size_t(w * h)), stream;
        for (size_t i = 0; i < edited.size(); i++)
            edited[i] = std::memcmp(parsed.palette + 4 * wanted[from + i],
                                    parsed.palette + 4 * entry[from + i], 3) != 0;
        if (lzss_encode_into(wanted.data(), wanted.size(), &stream, {0, 0, 0, size}) ==
            kLzssEncoded)
            continue;
        SCOPED_TRACE(testing::Message() << round << ": " << w << " x " << h);
        const Fit fit = fit_edit({&entry, &wanted, &edited, nullptr, size});
        ASSERT_TRUE(fit.fitted);
        fitted++;
        ASSERT_EQ(fit.image.size(), entry.size());
        ASSERT_TRUE(fit.image == entry ||
                    lzss_encode_into(fit.image.data(), fit.image.size(), &stream,
                                     {0, 0, 0, size}) == kLzssEncoded);
        Oklab lab[256];
        for (int c = 0; c < 256; c++)
            lab[c] = oklab_of(parsed.palette + 4 * c);
        uint64_t in_edit = 0, changed = 0;
        double sum = 0;
        for (size_t i = 0; i < fit.image.size(); i++) {
            if (i < from || i >= from + edited.size() || !edited[i - from]) {
                ASSERT_EQ(fit.image[i], wanted[i]) << "outside the edit: " << i;
                continue;
            }
            const float d = delta_e(lab[fit.image[i]], lab[wanted[i]]);
            in_edit++, changed += d > 0, sum += d;
            EXPECT_LE(d, fit.largest);
        }
        EXPECT_EQ(fit.edit, in_edit);
        EXPECT_EQ(fit.changed, changed);
        EXPECT_NEAR(fit.mean, sum / double(in_edit), 1e-5);
        // By hand: the least-changed pixels put back, as few as fit.
        std::vector<size_t> order;
        for (size_t i = 0; i < edited.size(); i++)
            if (edited[i]) order.push_back(i);
        auto apart = [&](size_t i) { return delta_e(lab[entry[from + i]], lab[wanted[from + i]]); };
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return apart(a) < apart(b); });
        size_t low = 0, high = order.size();
        while (high - low > 1) {
            const size_t middle = (low + high) / 2;
            Bytes trial = wanted;
            for (size_t k = 0; k < middle; k++)
                trial[from + order[k]] = entry[from + order[k]];
            (lzss_encode_into(trial.data(), trial.size(), &stream, {0, 0, 0, size}) == kLzssEncoded
                 ? high
                 : low) = middle;
        }
        double by_hand = 0;
        for (size_t k = 0; k < high; k++)
            by_hand += apart(order[k]);
        EXPECT_LE(sum, by_hand + 1e-3);
    }
    EXPECT_GE(fitted, 20);
}

// An edit of colours a step from their own fits where it hardly shows; one of far colours does not.
TEST(Fit, TakenOnlyWhereItHardlyShows) {
    std::mt19937 rng(8);
    uint8_t palette[1024] = {};
    for (int c = 0; c < 256; c++)
        palette[4 * c] = uint8_t(c / 2 * 2 + c % 2), palette[4 * c + 1] = uint8_t(c / 2 * 2);
    Bytes pixels(64 * 48);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = uint8_t(i / 64 / 6 * 32);
    const Bytes entry = kzp_image_bytes(64, 48, pixels.data(), palette);
    const size_t size = lzss_encode(entry).size();
    for (bool far : {false, true}) {
        Bytes wanted = entry, edited(pixels.size());
        for (size_t i = 64 * 8; i < 64 * 40; i++)
            wanted[i] = far ? uint8_t(rng()) : uint8_t(entry[i] ^ (rng() & 1)),
            edited[i] = wanted[i] != entry[i];
        const Fit fit = fit_edit({&entry, &wanted, &edited, nullptr, size});
        ASSERT_TRUE(fit.fitted);
        EXPECT_EQ(fit_hardly_shows(fit), !far) << fit.mean << " " << fit.seen;
        EXPECT_LT(fit.seen, far ? 1.0f : 0.005f);
        EXPECT_GT(fit.seen, far ? 0.02f : 0.0f);
    }
}

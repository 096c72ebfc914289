// Encoding on the 2048x2048 benchmark pictures: speed, working memory, and
// stream size against greedy longest-match and against the sizes that an
// exhaustive search (every distance of the window at every position, then the
// same optimal parse) gave for the same pictures: "over_exhaustive" must be 0.
// Then the greedy stream against the smallest at the sizes of game pictures,
// and quorbin-pack -F's fit of an edit into its entry at those sizes: its time
// and its peak working memory over the picture's pixels.
//
//   pack_bench [google benchmark flags]
//
// Each picture is encoded on one thread and on every processor (threads:0).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <malloc.h>
#include <new>

#include "fit/fit.h"
#include "kzp/kzp.h"
#include "lzss/lzss.h"
#include "sample_images.h"

// Heap bytes in use and their peak, counted through operator new.
std::atomic<size_t> g_in_use{0}, g_peak{0};

void* operator new(size_t size) {
    void* p = std::malloc(size);
    if (!p) throw std::bad_alloc();
    const size_t now = g_in_use += malloc_usable_size(p);
    for (size_t peak = g_peak; now > peak && !g_peak.compare_exchange_weak(peak, now);)
        ;
    return p;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete" // the pair above is malloc and free
void operator delete(void* p) noexcept {
    g_in_use -= malloc_usable_size(p);
    std::free(p);
}
#pragma GCC diagnostic pop

void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}

namespace {

constexpr int32_t kSide = 2048;

// Stream sizes from the exhaustive search, by kind (1.1.0's encoder, which
// tried every candidate of its hash chains).
constexpr size_t kExhaustive[] = {496786, 1558705, 2760059, 4718422,
                                  715410, 1153605, 1476193, 532382};

void BM_Encode(benchmark::State& state, SampleKind kind) {
    const std::vector<uint8_t> image = make_sample_image(kind, kSide, kSide);
    const size_t greedy = lzss_encode(image, {0, true}).size();
    size_t size = 0;
    const size_t before = g_in_use;
    g_peak = before;
    const LzssEncodeOptions options{static_cast<int>(state.range(0)), false,
                                    static_cast<int>(state.range(1))};
    for (auto _ : state)
        size = lzss_encode(image, options).size();
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.size()));
    state.counters["size"] = static_cast<double>(size);
    if (kind < std::ssize(kExhaustive))
        state.counters["over_exhaustive"] =
            static_cast<double>(size) - static_cast<double>(kExhaustive[kind]);
    state.counters["under_greedy_%"] = 100.0 * (1 - static_cast<double>(size) / greedy);
    state.counters["bytes_per_pixel"] = static_cast<double>(g_peak - before) / (kSide * kSide);
}

// How much larger than the smallest stream the greedy one is, as old game
// tools wrote it, at the sizes of game pictures: the room an edit has in its
// entry.
void BM_GreedySlack(benchmark::State& state, SampleKind kind) {
    const std::vector<uint8_t> image = make_sample_image(kind, static_cast<int32_t>(state.range(0)),
                                                         static_cast<int32_t>(state.range(1)));
    size_t greedy = 0;
    for (auto _ : state)
        greedy = lzss_encode(image, {0, true}).size();
    state.counters["greedy_over_smallest_%"] =
        100.0 * (static_cast<double>(greedy) / static_cast<double>(lzss_encode(image).size()) - 1);
}

// An edit too large for its entry (an entry of `kind` as greedy tools wrote it, with a pasted
// block of another picture, in its palette, over a third of it) fitted as -F fits it.
void BM_Fit(benchmark::State& state, SampleKind kind) {
    const int32_t w = static_cast<int32_t>(state.range(0)),
                  h = static_cast<int32_t>(state.range(1));
    const std::vector<uint8_t> entry = make_sample_image(kind, w, h),
                               pasted = make_sample_image(kSampleDithered, w, h);
    const size_t size = lzss_encode(entry, {0, true}).size(), pixels = size_t(w) * size_t(h);
    std::vector<uint8_t> wanted = entry, edited(pixels);
    const size_t from = entry.size() - kKzpTrailerSize - pixels;
    for (size_t i = 0; i < pixels; i++)
        if (i % size_t(w) < size_t(w) / 2 && i / size_t(w) < size_t(h) * 2 / 3)
            wanted[from + i] = pasted[i], edited[i] = pasted[i] != entry[from + i];
    Fit fit{};
    const size_t before = g_in_use;
    g_peak = before;
    for (auto _ : state)
        fit = fit_edit({&entry, &wanted, &edited, nullptr, size});
    state.counters["over_%"] =
        100.0 * (static_cast<double>(lzss_encode(wanted).size()) / static_cast<double>(size) - 1);
    state.counters["mean"] = fit.mean;
    state.counters["peak_bytes_per_pixel"] =
        static_cast<double>(g_peak - before) / static_cast<double>(pixels);
}

} // namespace

int main(int argc, char** argv) {
    for (int kind = 0; kind < std::ssize(kSampleNames); kind++)
        benchmark::RegisterBenchmark((std::string("encode/") + kSampleNames[kind]).c_str(),
                                     BM_Encode, static_cast<SampleKind>(kind))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime() // the search runs on every processor
            ->ArgNames({"candidates", "threads"})
            ->Args({LzssEncodeOptions{}.candidates, 1})
            ->Args({LzssEncodeOptions{}.candidates, LzssEncodeOptions{}.threads});
    for (int kind = 0; kind < std::ssize(kSampleNames); kind++)
        benchmark::RegisterBenchmark((std::string("slack/") + kSampleNames[kind]).c_str(),
                                     BM_GreedySlack, static_cast<SampleKind>(kind))
            ->Unit(benchmark::kMillisecond)
            ->ArgNames({"width", "height"})
            ->Args({16, 16})
            ->Args({64, 48})
            ->Args({320, 200})
            ->Args({640, 480});
    for (SampleKind kind : {kSampleFlat, kSampleMedianCut})
        benchmark::RegisterBenchmark((std::string("fit/") + kSampleNames[kind]).c_str(), BM_Fit,
                                     kind)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ArgNames({"width", "height"})
            ->Args({320, 200})
            ->Args({640, 480});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

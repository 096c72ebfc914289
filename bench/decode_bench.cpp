// Decoding and conversion speed on 2048x2048 pictures of four kinds.
//
//   decode_bench [google benchmark flags]     the benchmarks
//   decode_bench --once KIND fast|bytewise    one decode, for callgrind
//   decode_bench --write KIND FILE            writes the picture as a KZP file (KIND-shuffled:
//                                             the same picture, its palette shuffled)
//   decode_bench --greedy KIND FILE           the same, the longest match at each position
//   decode_bench --archive DIR N              an archive of N small entries and its list
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "bmp/bmp.h"
#include "convert.h"
#include "lzss/lzss.h"
#include "sample_images.h"

namespace {

constexpr int32_t kSide = 2048;

struct Sample {
    std::vector<uint8_t> image, stream;
    std::FILE* file; // the stream, in the page cache
};

// Kinds past the named ones stand for the same pictures with their palettes
// shuffled ("KIND-shuffled").
constexpr int kKinds = static_cast<int>(std::size(kSampleNames));

Sample& sample(int kind) {
    static Sample samples[2 * kKinds];
    Sample& s = samples[kind];
    if (s.file) return s;
    s.image = make_sample_image(static_cast<SampleKind>(kind % kKinds), kSide, kSide);
    if (kind >= kKinds) s.image = shuffle_palette(s.image, 1);
    s.stream = lzss_encode(s.image);
    s.file = std::tmpfile();
    std::fwrite(s.stream.data(), 1, s.stream.size(), s.file);
    std::fflush(s.file);
    return s;
}

int64_t decode_once(Sample& s, uint8_t* buffer, LzssDecoder decoder) {
    std::rewind(s.file);
    return decode_stored_stream(s.file, static_cast<int64_t>(s.stream.size()), buffer, decoder);
}

// Decoding from a file into a warm buffer.
void BM_Decode(benchmark::State& state, int kind, LzssDecoder decoder) {
    Sample& s = sample(kind);
    std::vector<uint8_t> buffer(9 * s.stream.size());
    if (decode_once(s, buffer.data(), decoder) != static_cast<int64_t>(s.image.size()) ||
        std::memcmp(buffer.data(), s.image.data(), s.image.size()) != 0) {
        state.SkipWithError("decoded bytes differ from the picture");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(decode_once(s, buffer.data(), decoder));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.image.size()));
    state.counters["ratio"] = static_cast<double>(s.image.size()) / s.stream.size();
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<uint8_t> from(kSide * kSide + kKzpTrailerSize, 1), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(from.size()));
}

// The whole job from an open input to the BMP or PNG bytes in a file: a
// fresh decode buffer, decoding, writing.
void BM_Job(benchmark::State& state, int kind, OutputFormat format) {
    Sample& s = sample(kind);
    std::FILE* out = std::tmpfile();
    for (auto _ : state) {
        std::rewind(s.file);
        std::rewind(out);
        if (convert_stream(out, s.file, static_cast<int64_t>(s.stream.size()), format) !=
                kConvertOk ||
            std::fflush(out) != 0)
            state.SkipWithError("conversion failed");
    }
    std::fclose(out);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.image.size()));
}

int kind_named(const char* name) {
    for (int kind = 0; kind < 2 * kKinds; kind++)
        if (name == std::string(kSampleNames[kind % kKinds]) + (kind < kKinds ? "" : "-shuffled"))
            return kind;
    std::fprintf(stderr, "unknown picture kind '%s'\n", name);
    std::exit(2);
}

// N entries of 64x64 to 160x120 pictures of every kind, one archive.
int write_archive(const std::string& dir, int count) {
    std::vector<uint8_t> archive;
    std::string list;
    std::vector<std::vector<uint8_t>> streams;
    for (int i = 0; i < 16; i++)
        streams.push_back(
            lzss_encode(make_sample_image(static_cast<SampleKind>(i % 4), 64 + 6 * i, 48 + 4 * i)));
    for (int i = 0; i < count; i++) {
        const std::vector<uint8_t>& stream = streams[static_cast<size_t>(i) % streams.size()];
        list += "many.dat " + std::to_string(archive.size()) + " " + std::to_string(stream.size()) +
                " e" + std::to_string(i) + ".kzp\n";
        archive.insert(archive.end(), stream.begin(), stream.end());
    }
    return write_whole_file((dir + "/many.dat").c_str(), archive) &&
                   write_whole_file((dir + "/many.lst").c_str(),
                                    std::vector<uint8_t>(list.begin(), list.end()))
               ? 0
               : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--once") == 0) {
        Sample& s = sample(kind_named(argv[2]));
        std::vector<uint8_t> buffer(9 * s.stream.size());
        int64_t n = decode_once(s, buffer.data(),
                                std::strcmp(argv[3], "bytewise") == 0 ? kLzssBytewise : kLzssFast);
        std::printf("%lld bytes decoded\n", static_cast<long long>(n));
        return n == static_cast<int64_t>(s.image.size()) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--write") == 0)
        return write_whole_file(argv[3], sample(kind_named(argv[2])).stream) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "--greedy") == 0)
        return write_whole_file(argv[3], lzss_encode(sample(kind_named(argv[2])).image, {0, true}))
                   ? 0
                   : 1;
    if (argc == 4 && std::strcmp(argv[1], "--archive") == 0)
        return write_archive(argv[2], std::atoi(argv[3]));

    for (int kind = 0; kind < 4; kind++) {
        std::string name = kSampleNames[kind];
        benchmark::RegisterBenchmark(("bytewise/" + name).c_str(), BM_Decode, kind, kLzssBytewise);
        benchmark::RegisterBenchmark(("decode/" + name).c_str(), BM_Decode, kind, kLzssFast);
        benchmark::RegisterBenchmark(("job/" + name).c_str(), BM_Job, kind, kFormatBmp);
        benchmark::RegisterBenchmark(("pngjob/" + name).c_str(), BM_Job, kind, kFormatPng);
    }
    benchmark::RegisterBenchmark("memcpy", BM_Memcpy);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The PNG write of whole rendered frames: today's encoder (the tool's own
// Paeth filter and run-only deflate, in pieces, on 1 and 2 threads) beside
// the writer it replaced (libpng with zlib level 1, Paeth filter, Z_RLE) and
// the other candidates measured for it, on the same Paeth-filtered rows:
// libdeflate (level 1 and 6) over the whole image, and zlib level 1 with
// Z_RLE on 1 MiB pieces joined by full flushes. Each file's size is given
// relative to the replaced writer's.
//
//   bench_png FRAME.png [FRAME.png ...] [benchmark options]
//
// bench/shot-benchmarks.sh renders the shot's frames and runs this on them.
#include <benchmark/benchmark.h>

#ifdef PENNARO_BENCH_HAVE_TOOLS

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/images/png_deflate.h"
#include "cli/images/png.h"

#ifdef PENNARO_BENCH_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

using namespace pennaro_cli;

namespace {

void toMemory(png_structp png, png_bytep data, png_size_t count) {
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + count);
}
void noFlush(png_structp) {}

// The writer as it was: libpng, zlib level 1, Paeth on every row, Z_RLE.
std::vector<uint8_t> encodeWithLibpng(const RgbaImage &image) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_set_write_fn(png, &out, toMemory, noFlush);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), image.depth,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    std::vector<uint8_t> row(size_t(image.width) * 4 * size_t(image.depth / 8));
    for (int32_t y = 0; y < image.height; ++y) {
        const uint16_t *in = image.pixel(0, y);
        for (size_t i = 0; i < size_t(image.width) * 4; ++i) {
            if (image.depth == 16)
                row[2 * i] = uint8_t(in[i] >> 8), row[2 * i + 1] = uint8_t(in[i]);
            else
                row[i] = uint8_t(in[i]);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// The rows as the file stores them, each Paeth-filtered behind its type byte.
std::vector<uint8_t> filteredRows(const RgbaImage &image) {
    const size_t bpp = size_t(image.depth / 2), rowBytes = size_t(image.width) * bpp;
    std::vector<uint8_t> raw(rowBytes * size_t(image.height)), out((rowBytes + 1) * size_t(image.height));
    for (size_t i = 0; i < image.samples.size(); ++i) {
        if (image.depth == 16)
            raw[2 * i] = uint8_t(image.samples[i] >> 8), raw[2 * i + 1] = uint8_t(image.samples[i]);
        else
            raw[i] = uint8_t(image.samples[i]);
    }
    for (int32_t y = 0; y < image.height; ++y)
        paethFilterRow(&raw[size_t(y) * rowBytes], y ? &raw[size_t(y - 1) * rowBytes] : nullptr, rowBytes, int(bpp),
                       &out[size_t(y) * (rowBytes + 1)]);
    return out;
}

// zlib level 1, Z_RLE, on 1 MiB pieces each deflated alone and joined with
// full flushes (the Adler-32 combine is left out: it costs microseconds).
size_t zlibPieces(const std::vector<uint8_t> &rows, int threads) {
    constexpr size_t piece = size_t{1} << 20;
    const size_t count = (rows.size() + piece - 1) / piece;
    std::vector<std::vector<uint8_t>> out(count);
    auto work = [&](size_t first) {
        for (size_t k = first; k < count; k += size_t(threads)) {
            z_stream z{};
            deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_RLE);
            const size_t from = k * piece, size = std::min(piece, rows.size() - from);
            out[k].resize(deflateBound(&z, size) + 16);
            z.next_in = const_cast<uint8_t *>(&rows[from]), z.avail_in = uInt(size);
            z.next_out = out[k].data(), z.avail_out = uInt(out[k].size());
            deflate(&z, k + 1 == count ? Z_FINISH : Z_FULL_FLUSH);
            out[k].resize(z.total_out);
            deflateEnd(&z);
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) helpers.emplace_back(work, size_t(t));
    work(0);
    for (auto &h : helpers) h.join();
    size_t total = 2 + 4;
    for (const auto &o : out) total += o.size();
    return total;
}

std::vector<RgbaImage> frames;
std::vector<std::string> frameNames;

void BM_WriteLibpng(benchmark::State &state) {
    const RgbaImage &image = frames[size_t(state.range(0))];
    size_t bytes = 0;
    for (auto _ : state) bytes = encodeWithLibpng(image).size();
    state.counters["bytes"] = double(bytes);
    state.SetLabel(frameNames[size_t(state.range(0))]);
}

void BM_WriteNow(benchmark::State &state) {
    const RgbaImage &image = frames[size_t(state.range(0))];
    setPngEncodeThreads(unsigned(state.range(1)));
    size_t bytes = 0;
    for (auto _ : state) bytes = encodePng(image).size();
    setPngEncodeThreads(1);
    state.counters["bytes"] = double(bytes);
    state.counters["size_vs_libpng"] = double(bytes) / double(encodeWithLibpng(image).size());
    state.SetLabel(frameNames[size_t(state.range(0))]);
}

// Filtering included, as in the writers above; chunk framing left out.
void BM_ZlibPieces(benchmark::State &state) {
    const RgbaImage &image = frames[size_t(state.range(0))];
    size_t bytes = 0;
    for (auto _ : state) bytes = zlibPieces(filteredRows(image), int(state.range(1)));
    state.counters["size_vs_libpng"] = double(bytes) / double(encodeWithLibpng(image).size());
}

#ifdef PENNARO_BENCH_HAVE_LIBDEFLATE
void BM_Libdeflate(benchmark::State &state) {
    const RgbaImage &image = frames[size_t(state.range(0))];
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(int(state.range(1)));
    size_t bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> rows = filteredRows(image);
        std::vector<uint8_t> out(libdeflate_zlib_compress_bound(compressor, rows.size()));
        bytes = libdeflate_zlib_compress(compressor, rows.data(), rows.size(), out.data(), out.size());
    }
    libdeflate_free_compressor(compressor);
    state.counters["size_vs_libpng"] = double(bytes) / double(encodeWithLibpng(image).size());
}
#endif

}  // namespace

int main(int argc, char **argv) {
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i > 0 && arg.size() > 4 && arg.compare(arg.size() - 4, 4, ".png") == 0) {
            frames.push_back(readPng(arg));
            frameNames.push_back(arg.substr(arg.find_last_of('/') + 1));
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (frames.empty()) {
        std::fprintf(stderr, "usage: bench_png FRAME.png [FRAME.png ...] [benchmark options]\n");
        return 2;
    }
    for (size_t f = 0; f < frames.size(); ++f) {
        // Interleaved per frame, so the ratios come from neighbouring runs.
        benchmark::RegisterBenchmark("WriteLibpng", BM_WriteLibpng)->Arg(int64_t(f))->Unit(benchmark::kMillisecond)->UseRealTime();
        for (int threads : {1, 2})
            benchmark::RegisterBenchmark("WriteNow", BM_WriteNow)
                ->Args({int64_t(f), threads})
                ->ArgNames({"frame", "threads"})
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        for (int threads : {1, 2})
            benchmark::RegisterBenchmark("ZlibPieces", BM_ZlibPieces)
                ->Args({int64_t(f), threads})
                ->ArgNames({"frame", "threads"})
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#ifdef PENNARO_BENCH_HAVE_LIBDEFLATE
        for (int level : {1, 2, 3, 4, 6})
            benchmark::RegisterBenchmark("Libdeflate", BM_Libdeflate)
                ->Args({int64_t(f), level})
                ->ArgNames({"frame", "level"})
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#endif
    }
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#else

int main() { return 0; }

#endif

// The stream between the walk and the bands: a ring of items (a stroke's
// colours, its dabs, its finish) written by the command's thread and read by
// every band, each at its own pace. The writer waits when the slowest band
// is a whole ring behind, so memory stays bounded whatever a stroke holds.
//
// A pool thread takes whichever band lags furthest and is not taken,
// brings it up to what has been written, and gives it back, so the threads
// share the bands however the strokes fall on the image. A band is only
// ever worked by one thread at a time; the lock that hands it over orders
// its pixels' writes.
#include "render/bands.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "raster/rasterize.h"
#include "raster/stroke_path.h"
#include "render/workers.h"

namespace pennaro {

namespace {

enum class ItemKind : uint8_t { Colours, Dab, Finish };

struct Item {
    ItemKind kind;
    bool painted;        // Finish: the walk reached a point
    uint8_t colour8[4];  // Colours
    uint16_t colour16[4];
    int32_t top, bottom;  // Dab: the rows its box covers
    float opacity;        // Finish
    uint32_t brushMode;   // Finish
    Dab dab;
};

// Items in the ring (a power of two).
constexpr uint64_t RING = uint64_t{1} << 14;
// Dabs written between two hand-overs to the bands.
constexpr uint64_t PUBLISH_EVERY = 512;
// Bands per thread: enough that a thread finding its band's strokes done
// can take another.
constexpr int32_t BANDS_PER_THREAD = 3;
// Fewest rows a band holds.
constexpr int32_t MIN_BAND_ROWS = 8;

struct Band {
    PaintedRows rows;
    RasterBrush brush;  // the colours being stamped and the stroke's finish
    uint64_t done = 0;  // items this band has worked through
    bool taken = false;
};

}  // namespace

struct BandPainter::Shared {
    ImageView scratch, output;
    int32_t threads;
    std::vector<Item> ring;
    std::vector<Band> bands;
    workers::Crew crew;

    std::mutex mutex;
    std::condition_variable work;  // the bands: more written, or closed
    std::condition_variable room;  // the writer: the slowest band moved on
    uint64_t published = 0;        // items the bands may read
    bool closed = false;

    // The writer's own (command thread only).
    uint64_t written = 0;
    uint64_t writable = RING;  // items the bands have left room for
    const RasterBrush *walking = nullptr;  // the prepared brush of the stroke being walked
    bool strokeOpen = false;

    Item &next() {
        if (written - published >= PUBLISH_EVERY) publish();
        if (written >= writable) {
            std::unique_lock<std::mutex> lock(mutex);
            room.wait(lock, [&] { return written - slowest() < RING; });
            writable = slowest() + RING;
        }
        return ring[written & (RING - 1)];
    }

    // Under the lock.
    uint64_t slowest() const {
        uint64_t least = published;
        for (const Band &b : bands) least = std::min(least, b.done);
        return least;
    }

    void publish() {
        {
            std::lock_guard<std::mutex> guard(mutex);
            published = written;
        }
        work.notify_all();
    }

    static void takeDab(void *context, const Dab &dab) {
        auto *self = static_cast<Shared *>(context);
        int32_t top = 0, bottom = 0;
        if (!dabRows(dab, self->scratch.width, self->scratch.height, &top, &bottom)) return;
        if (!self->strokeOpen) {
            self->strokeOpen = true;
            Item &c = self->next();
            c.kind = ItemKind::Colours;
            std::copy(self->walking->color8, self->walking->color8 + 4, c.colour8);
            std::copy(self->walking->color16, self->walking->color16 + 4, c.colour16);
            ++self->written;
        }
        Item &item = self->next();
        item.kind = ItemKind::Dab;
        item.top = top;
        item.bottom = bottom;
        item.dab = dab;
        ++self->written;
    }

    // One band brought up to `end`.
    void advance(Band &band, uint64_t end) {
        const int32_t first = band.rows.firstBandRow;
        const int32_t last = first + band.rows.bandRowCount - 1;
        KernelTarget target{&band.brush, &scratch, &band.rows};
        for (uint64_t at = band.done; at < end; ++at) {
            const Item &item = ring[at & (RING - 1)];
            switch (item.kind) {
                case ItemKind::Colours:
                    std::copy(item.colour8, item.colour8 + 4, band.brush.color8);
                    std::copy(item.colour16, item.colour16 + 4, band.brush.color16);
                    break;
                case ItemKind::Dab:
                    if (item.bottom >= first && item.top <= last) stampWithKernel(&target, item.dab);
                    break;
                case ItemKind::Finish: {
                    PaintedRows &rows = band.rows;
                    if (item.painted) {
                        band.brush.opacity = item.opacity;
                        band.brush.brushMode = item.brushMode;
                        finishStroke(scratch, output, band.brush, rows);
                    }
                    // The next stroke starts from empty spans, as it does
                    // when one thread paints.
                    const int32_t from = std::max(rows.topRow, first), to = std::min(rows.bottomRow, last);
                    for (int32_t y = from; y <= to; ++y)
                        rows.spans[y] = RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT};
                    rows.topRow = last;
                    rows.bottomRow = first;
                    break;
                }
            }
        }
    }

    // A pool thread's share: bands taken and advanced until the stream is
    // closed and every band has worked through it.
    static void run(void *context) {
        auto *self = static_cast<Shared *>(context);
        std::unique_lock<std::mutex> lock(self->mutex);
        for (;;) {
            Band *pick = nullptr;
            for (Band &b : self->bands) {
                if (b.taken || b.done >= self->published) continue;
                if (!pick || b.done < pick->done) pick = &b;
            }
            if (!pick) {
                // Once closed, nothing more is written: a band still taken
                // is finished by its taker.
                if (self->closed) return;
                self->work.wait(lock);
                continue;
            }
            pick->taken = true;
            const uint64_t end = self->published;
            lock.unlock();
            self->advance(*pick, end);
            lock.lock();
            pick->done = end;
            pick->taken = false;
            self->room.notify_one();
        }
    }
};

BandPainter::BandPainter(const ImageView &scratch, const ImageView &output, RowSpan *spans, bool deep,
                         int32_t threads)
    : shared_(std::make_unique<Shared>()) {
    Shared &s = *shared_;
    s.scratch = scratch;
    s.output = output;
    s.threads = threads;
    s.ring.resize(RING);
    const int32_t height = std::max(scratch.height, 1);
    const int32_t count = std::clamp(height / MIN_BAND_ROWS, 1, threads * BANDS_PER_THREAD);
    s.bands.resize(static_cast<size_t>(count));
    for (int32_t b = 0; b < count; ++b) {
        Band &band = s.bands[static_cast<size_t>(b)];
        const int32_t first = static_cast<int32_t>(int64_t{height} * b / count);
        const int32_t end = static_cast<int32_t>(int64_t{height} * (b + 1) / count);
        band.brush = RasterBrush{};
        band.brush.deep = deep ? 1 : 0;
        band.rows = PaintedRows{scratch.height, end - 1, first, spans, first, end - first};
    }
    for (int32_t y = 0; y < scratch.height; ++y) spans[y] = RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT};
}

BandPainter::~BandPainter() { finish(); }

bool BandPainter::start() {
    Shared &s = *shared_;
    return s.crew.start(std::min<int32_t>(s.threads, static_cast<int32_t>(s.bands.size())), Shared::run, &s);
}

void BandPainter::paint(Allocator &memory, const LayerGeometry &layer, const PaintStroke &stroke,
                        RasterBrush *brush) {
    Shared &s = *shared_;
    s.walking = brush;
    s.strokeOpen = false;
    const DabClip clip{s.scratch.data ? s.scratch.width : 0, s.scratch.height};
    const int32_t reached = walkStroke(memory, layer, stroke, brush, DabSink{Shared::takeDab, &s, &clip});
    if (s.strokeOpen) {
        Item &item = s.next();
        item.kind = ItemKind::Finish;
        item.painted = reached >= 1;
        item.opacity = brush->opacity;
        item.brushMode = brush->brushMode;
        ++s.written;
    }
    s.publish();
}

void BandPainter::finish() {
    Shared &s = *shared_;
    {
        std::lock_guard<std::mutex> guard(s.mutex);
        s.published = s.written;
        s.closed = true;
    }
    s.work.notify_all();
    s.crew.join();
}

}  // namespace pennaro

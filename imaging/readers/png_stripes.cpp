// The rows of a PNG image inflated whole, unfiltered and converted by several
// threads at once. Each thread takes a stripe of columns of every row, and
// the rows in blocks, top to bottom: a block's stripe needs the stripe to its
// left in the same block (its left neighbours) and its own in the block above,
// so each thread follows the one to its left by a block. A block is
// converted into the bitmap once every stripe has unfiltered it, as the
// conversion writes over the stored rows. The loading thread takes the first
// stripe and reports the rows that every stripe has converted, in order.
#include "imaging/compression/png_filters.h"
#include "imaging/readers/png_graphic.h"
#include "platform/thread_pool.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Stripes are this many pixels wide at least; their edges fall on multiples
// of 64 pixels, whole bytes at every depth.
constexpr uint32_t MinStripePixels = 512;
constexpr uint32_t StripeAlign = 64;
// Blocks of rows are about this many stored bytes, so that the threads meet
// seldom; three are kept unfiltered at a time.
constexpr uint64_t BlockBytes = 512 * 1024;
constexpr uint32_t MaxBlockRows = 64;
constexpr uint32_t RingBlocks = 3;
// About 50 microseconds of looking before a thread sleeps.
constexpr int SpinsBeforeSleep = 2000;

// Blocks each stripe has unfiltered and converted, and the threads' common
// stop.
class TStripeCounts {
public:
    explicit TStripeCounts(uint32_t stripes)
        : FUnfiltered(std::make_unique<std::atomic<uint32_t>[]>(stripes)),
          FConverted(std::make_unique<std::atomic<uint32_t>[]>(stripes)), FStripes(stripes)
    {
        for (uint32_t s = 0; s < stripes; ++s) {
            FUnfiltered[s].store(0);
            FConverted[s].store(0);
        }
    }

    std::atomic<uint32_t>& Unfiltered(uint32_t stripe) { return FUnfiltered[stripe]; }
    std::atomic<uint32_t>& Converted(uint32_t stripe) { return FConverted[stripe]; }

    // Waits until count reaches blocks; false when the work stopped. The
    // other thread is mostly about to get there: a sleep and a wake-up would
    // cost more (tens of microseconds on a virtual machine) than looking
    // again for a while.
    bool WaitFor(std::atomic<uint32_t>& count, uint32_t blocks)
    {
        for (int spin = 0;; ++spin) {
            const uint32_t now = count.load(std::memory_order_acquire);
            if (FStop.load(std::memory_order_relaxed))
                return false;
            if (now >= blocks)
                return true;
            if (spin < SpinsBeforeSleep)
                __builtin_ia32_pause();
            else
                count.wait(now, std::memory_order_acquire);
        }
    }

    static void Set(std::atomic<uint32_t>& count, uint32_t blocks)
    {
        count.store(blocks, std::memory_order_release);
        count.notify_all();
    }

    uint32_t LeastConverted()
    {
        uint32_t least = UINT32_MAX;
        for (uint32_t s = 0; s < FStripes; ++s)
            least = std::min(least, FConverted[s].load(std::memory_order_acquire));
        return least;
    }

    // Stops every thread, also those waiting; the first error is kept.
    void Halt(std::exception_ptr error)
    {
        {
            std::lock_guard lock(FMutex);
            if (!FError)
                FError = error;
        }
        FStop.store(true);
        for (uint32_t s = 0; s < FStripes; ++s)
            for (std::atomic<uint32_t>* count : {&FUnfiltered[s], &FConverted[s]}) {
                count->fetch_add(1);
                count->notify_all();
            }
    }

    std::exception_ptr Error()
    {
        std::lock_guard lock(FMutex);
        return FError;
    }

private:
    std::unique_ptr<std::atomic<uint32_t>[]> FUnfiltered;
    std::unique_ptr<std::atomic<uint32_t>[]> FConverted;
    uint32_t FStripes;
    std::atomic<bool> FStop{false};
    std::mutex FMutex;
    std::exception_ptr FError;
};

} // namespace

bool TPNGGraphic::DeliverInStripes(const uint8_t* stored, uint32_t rowSize)
{
    const uint32_t width = State.Header.Width;
    const uint32_t height = State.Header.Height;
    const uint32_t pixelBits = uint32_t(State.Header.BitDepth) * ImageProperties.SamplesPerPixel;
    // A stripe's conversion leaves the stored bytes of the stripes beside it
    // alone only where a stored pixel takes as many bits as a bitmap pixel.
    if (pixelBits != uint32_t(BitsPerPixel()))
        return false;
    const uint32_t stripes = std::min<uint32_t>(pwthreads::ThreadCount(), width / MinStripePixels);
    if (stripes < 2)
        return false;
    std::vector<uint32_t> edge(stripes + 1);
    for (uint32_t s = 0; s < stripes; ++s)
        edge[s] = static_cast<uint32_t>(uint64_t(width) * s / stripes) / StripeAlign * StripeAlign;
    edge[stripes] = width;
    const auto bytesAt = [&](uint32_t x) { return static_cast<size_t>(uint64_t(x) * pixelBits / 8); };
    const uint32_t blockRows = static_cast<uint32_t>(std::clamp<uint64_t>(BlockBytes / rowSize, 1, MaxBlockRows));
    const uint32_t blocks = (height + blockRows - 1) / blockRows;

    TColorManager& cm = ColorManager();
    cm.ConvertsInPlace(); // the row routine is chosen before the threads use it
    const uint64_t stride = static_cast<uint64_t>(RowStride());
    uint8_t* const bits = ScanLine(0);
    const uint32_t pixelBytes = State.PixelBytes;
    // The unfiltered rows of RingBlocks blocks, and a zero row above the first.
    const uint32_t ringRows = RingBlocks * blockRows;
    std::vector<uint8_t> ring(size_t(rowSize) * (ringRows + 1), 0);
    const auto slot = [&](int64_t y) {
        return ring.data() + size_t(rowSize) * (y < 0 ? ringRows : static_cast<uint32_t>(y % ringRows));
    };
    // The filter types, taken before a conversion can write over them.
    std::vector<uint8_t> types(height);
    TStripeCounts counts(stripes);
    const uint32_t last = stripes - 1;

    uint32_t reported = 0;
    const auto report = [&](uint32_t rows) {
        for (; reported < rows; ++reported) {
            State.RowsFilled = reported + 1;
            RowDone(reported, height);
        }
    };
    pwthreads::RunTogether(stripes, [&](unsigned stripe) {
        const size_t from = bytesAt(edge[stripe]);
        const size_t to = bytesAt(edge[stripe + 1]);
        const uint32_t pixels = edge[stripe + 1] - edge[stripe];
        const auto convert = [&](uint32_t block) {
            for (uint32_t y = block * blockRows; y < std::min(height, (block + 1) * blockRows); ++y)
                cm.ConvertLine({static_cast<const void*>(slot(y) + 1 + from)}, bits + stride * y + from, pixels, 0xFF);
            TStripeCounts::Set(counts.Converted(stripe), block + 1);
        };
        try {
            for (uint32_t block = 0; block < blocks; ++block) {
                // The block's left part is unfiltered; the stripe to the right
                // has read this stripe's edge in the rows whose slots this
                // block takes; the stripe's own conversion of them is done.
                if ((stripe > 0 && !counts.WaitFor(counts.Unfiltered(stripe - 1), block + 1)) ||
                    (stripe < last && block >= RingBlocks &&
                     !counts.WaitFor(counts.Unfiltered(stripe + 1), block + 2 - RingBlocks)))
                    return;
                for (uint32_t y = block * blockRows; y < std::min(height, (block + 1) * blockRows); ++y) {
                    const uint8_t* source = stored + uint64_t(y) * rowSize;
                    if (stripe == 0)
                        types[y] = source[0];
                    uint8_t* row = slot(y) + 1;
                    std::memcpy(row + from, source + 1 + from, to - from);
                    pwpng::simd::UnfilterRow(types[y], row, slot(int64_t(y) - 1) + 1, to, pixelBytes, from);
                }
                TStripeCounts::Set(counts.Unfiltered(stripe), block + 1);
                // The block before is converted once every stripe has read
                // its stored rows, which the conversion writes over.
                if (block > 0) {
                    if (!counts.WaitFor(counts.Unfiltered(last), block))
                        return;
                    convert(block - 1);
                }
                if (stripe == 0)
                    report(std::min(height, counts.LeastConverted() * blockRows));
            }
            if (!counts.WaitFor(counts.Unfiltered(last), blocks))
                return;
            convert(blocks - 1);
            if (stripe == 0) {
                for (uint32_t s = 0; s < stripes; ++s)
                    if (!counts.WaitFor(counts.Converted(s), blocks))
                        return;
                report(height);
            }
        } catch (...) {
            // The others wait on this stripe: they stop, and the first
            // exception is raised again on the loading thread.
            counts.Halt(std::current_exception());
        }
    });
    if (const std::exception_ptr error = counts.Error())
        std::rethrow_exception(error);
    return true;
}

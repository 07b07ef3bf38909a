// Large bitmaps (their pixels mapped from the system rather than the heap)
// and memory streams filled by CopyFrom in one reservation.
#include "platform/bitmap.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

bool AllZero(const uint8_t* p, size_t n)
{
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

TEST(LargeMemory, BitmapsOfEveryBackingStartZeroedAndKeepTheirRows)
{
    // 12 MB and 12 KB: above and below the size that is mapped; the mapped
    // one also with its pages made present by a thread while rows are
    // written (rows written first must keep their bytes).
    for (const auto& [side, prefault] : {std::pair{2000, false}, std::pair{2000, true}, std::pair{64, false}}) {
        SCOPED_TRACE(testing::Message() << side << (prefault ? " prefault" : ""));
        TBitmap bitmap;
        bitmap.SetPixelFormat(bf24Bit);
        bitmap.SetPrefault(prefault);
        bitmap.SetSize(side, side);
        const size_t stride = size_t(bitmap.RowStride());
        EXPECT_TRUE(AllZero(bitmap.ScanLine(0), stride));
        EXPECT_TRUE(AllZero(bitmap.ScanLine(side - 1), stride));
        std::fill_n(bitmap.ScanLine(0), stride, 0x5A);
        std::fill_n(bitmap.ScanLine(side - 1), stride, 0xA5);
        bitmap.ScanLine(side / 2)[stride - 1] = 7;

        TBitmap copy;
        copy.Assign(bitmap);
        for (const int y : {0, side / 2, side - 1})
            EXPECT_TRUE(std::equal(copy.ScanLine(y), copy.ScanLine(y) + stride, bitmap.ScanLine(y))) << y;

        // A new size drops the pixels: the rows come back zero.
        bitmap.SetSize(side, side + 1);
        EXPECT_TRUE(AllZero(bitmap.ScanLine(0), stride));
        EXPECT_TRUE(AllZero(bitmap.ScanLine(side), stride));
        EXPECT_EQ(copy.ScanLine(side - 1)[0], 0xA5);
    }
}

TEST(LargeMemory, CopyFromIntoAMemoryStreamGivesTheSameBytesAndSize)
{
    std::vector<uint8_t> bytes(3 << 20);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + (i >> 12));
    TMemoryStream source(bytes.data(), bytes.size());

    TMemoryStream whole;
    EXPECT_EQ(whole.CopyFrom(source, 0), int64_t(bytes.size()));
    EXPECT_EQ(whole.Size(), int64_t(bytes.size()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), whole.Memory()));

    // After bytes already written, a part: the size is what was written.
    TMemoryStream part;
    const uint8_t head[3] = {1, 2, 3};
    part.Write(head, 3);
    source.SetPosition(100);
    EXPECT_EQ(part.CopyFrom(source, 1000), 1000);
    EXPECT_EQ(part.Size(), 1003);
    EXPECT_EQ(part.Memory()[2], 3);
    EXPECT_TRUE(std::equal(bytes.begin() + 100, bytes.begin() + 1100, part.Memory() + 3));

    TMemoryStream reserved;
    reserved.Reserve(1 << 20);
    EXPECT_EQ(reserved.Size(), 0);
    EXPECT_EQ(reserved.Position(), 0);
}

} // namespace

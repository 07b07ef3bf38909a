#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

TEST(Streams, ShortReadRaisesStreamReadError)
{
    const uint8_t data[3] = {1, 2, 3};
    TMemoryStream stream(data, sizeof data);
    uint8_t buffer[4] = {};
    EXPECT_EQ(stream.Read(buffer, 4), 3);
    stream.SetPosition(1);
    try {
        stream.ReadBuffer(buffer, 3);
        FAIL() << "no exception";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

// A file read in pieces of every kind: within the read-ahead buffer, across
// its end, larger than it, after seeks back and forth, and past the end.
TEST(Streams, FileStreamReadsPiecesAndSeeksAsTheFileHoldsThem)
{
    pwtest::TempDir dir;
    std::vector<uint8_t> bytes(200000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    pwtest::WriteBytes(dir.File("data.bin"), bytes);

    struct Step {
        int64_t Seek; // -1: read on from where the last step ended
        TSeekOrigin Origin;
        int64_t Count, Expected;
    };
    const Step steps[] = {
        {-1, soBeginning, 8, 8},         {-1, soBeginning, 4, 4},          {65530, soBeginning, 12, 12},
        {-1, soBeginning, 100000, 100000}, {-20, soCurrent, 40, 40},       {3, soBeginning, 70000, 70000},
        {-10, soEnd, 100, 10},           {-1, soBeginning, 5, 0},          {250000, soBeginning, 4, 0},
        {0, soBeginning, 200000, 200000}, {-300000, soCurrent, 1, 0},      {131072, soBeginning, 65536, 65536},
    };
    TFileStream stream(dir.File("data.bin"), fmOpenRead);
    EXPECT_EQ(stream.Size(), 200000);
    int64_t position = 0;
    for (const Step& step : steps) {
        if (step.Seek != -1) {
            const int64_t base = step.Origin == soBeginning ? 0 : step.Origin == soCurrent ? position : 200000;
            if (base + step.Seek >= 0)
                position = base + step.Seek;
            EXPECT_EQ(stream.Seek(step.Seek, step.Origin), position);
        }
        std::vector<uint8_t> got(static_cast<size_t>(step.Count));
        ASSERT_EQ(stream.Read(got.data(), step.Count), step.Expected) << "at " << position;
        got.resize(static_cast<size_t>(step.Expected));
        EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + std::min<int64_t>(position, 200000)))
            << "at " << position;
        position += step.Expected;
        EXPECT_EQ(stream.Position(), position);
    }
}

#include "platform/exceptions.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

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

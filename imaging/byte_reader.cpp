#include "imaging/byte_reader.h"

#include "imaging/strings/messages.h"
#include "platform/exceptions.h"

TByteReader::TByteReader(TStream& stream, std::string errorMessage)
    : FStream(stream), FSize(stream.Size()), FErrorMessage(std::move(errorMessage))
{
}

void TByteReader::Fail() const
{
    if (FErrorMessage.empty())
        throw EReadError(msg::StreamReadError);
    throw EInvalidGraphic(FErrorMessage);
}

void TByteReader::Bytes(void* buffer, int64_t count)
{
    if (count < 0 || FStream.Read(buffer, count) != count)
        Fail();
}

uint8_t TByteReader::U8()
{
    uint8_t b[1];
    Bytes(b, 1);
    return b[0];
}

uint16_t TByteReader::U16LE()
{
    uint8_t b[2];
    Bytes(b, 2);
    return LoadU16LE(b);
}

uint16_t TByteReader::U16BE()
{
    uint8_t b[2];
    Bytes(b, 2);
    return LoadU16BE(b);
}

uint32_t TByteReader::U32LE()
{
    uint8_t b[4];
    Bytes(b, 4);
    return LoadU32LE(b);
}

uint32_t TByteReader::U32BE()
{
    uint8_t b[4];
    Bytes(b, 4);
    return LoadU32BE(b);
}

int64_t TByteReader::Remaining()
{
    const int64_t rest = FSize - FStream.Position();
    return rest > 0 ? rest : 0;
}

void TByteReader::Skip(int64_t count)
{
    if (count < 0 || count > Remaining())
        Fail();
    FStream.Seek(count, soCurrent);
}

void TByteReader::Seek(int64_t position)
{
    if (position < 0 || position > FSize)
        Fail();
    FStream.SetPosition(position);
}

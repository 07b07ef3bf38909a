#include "imaging/compression/decoder.h"

void CompressionError(const char* message)
{
    throw EGraphicCompression(message);
}

// Feeds the input to one family of decoders (PW_FUZZ_DECODER): the first
// bytes choose the scheme and its parameters, the rest is the compressed
// data. Output buffers are exactly as large as the decoder is told, so any
// write past them is caught by the address sanitizer.
#include "fuzz/instruction_sets.h"
#include "imaging/compression/ccitt_decoders.h"
#include "imaging/compression/lz77_decoder.h"
#include "imaging/compression/lzw_decoder.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/compression/thunder_decoder.h"
#include "platform/exceptions.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

struct TInput {
    const uint8_t* Data;
    size_t Size;
    uint8_t Take()
    {
        if (Size == 0)
            return 0;
        --Size;
        return *Data++;
    }
};

std::unique_ptr<TDecoder> MakeDecoder(TInput& in, [[maybe_unused]] uint32_t width)
{
    const uint8_t choice = in.Take();
#if PW_FUZZ_DECODER == 1
    switch (choice % 7) {
    case 0: return std::make_unique<TPackbitsRLEDecoder>();
    case 1: return std::make_unique<TTargaRLEDecoder>(8 * (1 + in.Take() % 4));
    case 2: return std::make_unique<TPCXRLEDecoder>();
    case 3: return std::make_unique<TSGIRLEDecoder>(in.Take() % 2 ? 16 : 8);
    case 4: return std::make_unique<TCUTRLEDecoder>();
    case 5: return std::make_unique<TPSPRLEDecoder>();
    default: return std::make_unique<TRLADecoder>();
    }
#elif PW_FUZZ_DECODER == 2
    const int options = in.Take() & 0x07;
    const bool swapBits = choice & 1, wordAligned = choice & 2;
    if (choice & 4)
        return std::make_unique<TCCITTMHDecoder>(options, swapBits, wordAligned, width);
    return std::make_unique<TCCITTFax3Decoder>(options, swapBits, wordAligned, width);
#elif PW_FUZZ_DECODER == 3
    return std::make_unique<TLZ77Decoder>(choice % 2 ? 4 : 1, choice & 2);
#elif PW_FUZZ_DECODER == 4
    (void)choice;
    return std::make_unique<TThunderDecoder>(static_cast<int>(width));
#elif PW_FUZZ_DECODER == 5
    (void)choice;
    return std::make_unique<TLZWDecoder>();
#else
    // Options bit 1 allows uncompressed mode, which raises when met.
    const int options = (in.Take() & 0x03) | 1;
    if (choice & 2)
        return std::make_unique<TCCITTFax3Decoder2D>(options, choice & 1, width);
    return std::make_unique<TCCITTFax4Decoder>(options & 2, choice & 1, width);
#endif
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool limited = (LimitInstructionSets(), true);
    (void)limited;
    TInput in{data, size};
    const uint32_t width = 1 + (in.Take() | (in.Take() << 8)) % 4000;
    const uint32_t rows = 1 + in.Take() % 16;
    try {
        auto decoder = MakeDecoder(in, width);
        const size_t rowBytes = (width + 7) / 8 * 8;
        std::vector<uint8_t> target(rowBytes * rows);
        decoder->ExpandStart();
        const uint8_t* source = in.Data;
        size_t left = in.Size;
        // LZW and the two-dimensional fax codings decode a whole strip per call.
        const size_t callBytes = PW_FUZZ_DECODER >= 5 ? rowBytes * rows : rowBytes;
        for (uint32_t r = 0; r < rows && left > 0; r += uint32_t(callBytes / rowBytes)) {
            const uint8_t* cursor = source;
            uint8_t* out = target.data() + r * rowBytes;
            const TExpandResult result = decoder->Expand(cursor, left, out, callBytes, left, callBytes);
            const size_t used = result.Consumed > left ? left : result.Consumed;
            source += used;
            left -= used;
            if (used == 0)
                break;
        }
        decoder->ExpandFinish();
    } catch (const Exception&) {
    }
    return 0;
}

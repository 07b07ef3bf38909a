// Reads the input as a control-point file of the format PW_FUZZ_POINTS (its
// name for --points-format): every malformed file must give an Exception,
// never a crash, a hang or a read past the text.
#include "georef/points_formats.h"
#include "platform/exceptions.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const TPointsFormat format = ChoosePointsFormat("", PW_FUZZ_POINTS);
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        ParsePoints(format, text, "fuzz");
    } catch (const Exception&) {
    }
    return 0;
}

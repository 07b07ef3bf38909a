// Loads the input as a picture of the extension PwFuzzExtension names (each
// target's own one-line file), from
// memory, through the class the picture list gives for it (the workbench's
// path without the file), then reads every pixel of the bitmap it shows.
#include "fuzz/instruction_sets.h"
#include "imaging/format_registry.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "platform/streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern const char* const PwFuzzExtension;

namespace {
volatile uint32_t Sink;

const TGraphicClass& PictureClass()
{
    static const TGraphicClass* found = [] {
        LimitInstructionSets();
        InitializeImaging();
        const TGraphicClass* c = FindPictureClass(PwFuzzExtension);
        if (!c || !c->Create)
            std::abort();
        return c;
    }();
    return *found;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TGraphicClass& pictureClass = PictureClass();
    TMemoryStream stream(data, size);
    try {
        auto graphic = pictureClass.Create();
        graphic->LoadFromStream(stream);
        TBitmap& bitmap = graphic->ViewBitmap();
        static const bool loadOnly = std::getenv("PW_FUZZ_LOAD_ONLY") != nullptr;
        if (loadOnly)
            return 0;
        // Every stored byte is read; the colour of each pixel (palette
        // look-ups included) on all rows of small images and on the first and
        // last row of large or tall ones, which would otherwise cost seconds
        // a run (each row converts the whole palette first).
        uint32_t sum = 0;
        const size_t stride = static_cast<size_t>(bitmap.RowStride());
        for (int y = 0; y < bitmap.Height(); ++y) {
            const uint8_t* bytes = bitmap.ScanLine(y);
            for (size_t i = 0; i < stride; ++i)
                sum += bytes[i];
        }
        const bool small = bitmap.Height() <= 1024 && int64_t(bitmap.Width()) * bitmap.Height() <= (int64_t(1) << 16);
        std::vector<uint32_t> row(static_cast<size_t>(bitmap.Width()));
        for (int y = 0; y < bitmap.Height(); ++y) {
            if (!small && y != 0 && y != bitmap.Height() - 1)
                continue;
            bitmap.RowToARGB(y, 0, bitmap.Width(), row.data());
            for (uint32_t v : row)
                sum += v;
        }
        Sink = sum;
    } catch (const Exception&) {
        // A clear error is the expected answer to a broken file.
    }
    return 0;
}

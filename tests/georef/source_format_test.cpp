// Which converters an image goes through: its picture format from the
// registry, or in the workbench the open dialog's filter.
#include "georef/dialog_filters.h"
#include "georef/source_format.h"
#include "imaging/format_registry.h"

#include <gtest/gtest.h>

namespace {

TEST(SourceFormat, ComesFromTheRegisteredReaderOrTheOpenFilter)
{
    InitializeImaging();
    const struct {
        int FilterIndex; // 0: the registry alone
        const char* File;
        TSourceFormat Format;
    } cases[] = {
        {0, "/maps/a.bmp", TSourceFormat::BMP},
        {0, "a.DIB", TSourceFormat::BMP},
        {0, "a.rle", TSourceFormat::BMP},
        {0, "a.jpg", TSourceFormat::JPEG},
        {0, "a.jpe", TSourceFormat::JPEG},
        {0, "a.jfif", TSourceFormat::JPEG},
        {0, "a.tiff", TSourceFormat::TIFF},
        {0, "a.fax", TSourceFormat::TIFF},
        {0, "a.eps", TSourceFormat::None}, // read by a reader derived from TIFF's
        {0, "a.png", TSourceFormat::None},
        {0, "a.tif.txt", TSourceFormat::None},
        {0, "a", TSourceFormat::None},
        {BmpFilterIndex, "a.jpg", TSourceFormat::BMP},
        {JpgFilterIndex, "a.tif", TSourceFormat::JPEG},
        {TiffFilterIndex, "a.bmp", TSourceFormat::TIFF},
        {AllPicturesFilterIndex, "a.jpeg", TSourceFormat::JPEG},
        {AllPicturesFilterIndex, "a.dib", TSourceFormat::BMP},
        {AllPicturesFilterIndex, "a.png", TSourceFormat::None},
        {5, "a.bmp", TSourceFormat::None},
        {-1, "a.bmp", TSourceFormat::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.FilterIndex) + " " + c.File);
        EXPECT_EQ(c.FilterIndex == 0 ? SourceFormatOf(c.File) : OpenFilterFormat(c.FilterIndex, c.File), c.Format);
    }
}

} // namespace

// The first look of a JPEG and a JPEG 2000 picture: an eighth of the size
// each way (a JPEG's pixel the mean of its 8 x 8 block, a JPEG 2000
// picture's the codestream's resolution three levels down, as opj_decompress
// gives it), painted enlarged to the picture's size.
#include "app/first_look.h"
#include "imaging/jpeg_image.h"
#include "imaging/readers/jpeg2000_graphic.h"
#include "tests/support/test_support.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

namespace {

// 64 x 48 in flat 8 x 8 blocks.
QRgb BlockColour(int bx, int by)
{
    return qRgb(bx * 30, by * 40, 200 - bx * by * 4);
}

int Distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

TEST(FirstLook, IsThePictureAtAnEighthPaintedAtItsSize)
{
    const bool jpeg = pwtest::HaveProgram("cjpeg"), jpeg2000 = pwtest::HaveProgram("opj_compress");
    if (!jpeg || !jpeg2000)
        GTEST_SKIP() << "cjpeg or opj_compress not installed";
    pwtest::TempDir dir;
    std::string ppm = "P6\n64 48\n255\n";
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const QRgb c = BlockColour(x / 8, y / 8);
            ppm += {char(qRed(c)), char(qGreen(c)), char(qBlue(c))};
        }
    pwtest::WriteText(dir.File("blocks.ppm"), ppm);
    ASSERT_EQ(pwtest::Run({"sh", "-c", "cjpeg -quality 98 -outfile '" + dir.File("blocks.jpg") + "' '" +
                                           dir.File("blocks.ppm") + "' && opj_compress -i '" + dir.File("blocks.ppm") +
                                           "' -o '" + dir.File("blocks.jp2") + "' -n 5 >/dev/null && opj_decompress -i '" +
                                           dir.File("blocks.jp2") + "' -o '" + dir.File("reduced.ppm") +
                                           "' -r 3 >/dev/null"})
                  .ExitCode,
              0);
    TJPEGImage jpegImage;
    jpegImage.LoadFromFile(dir.File("blocks.jpg"));
    TJPEG2000Graphic jpeg2000Image;
    QImage blocks(8, 6, QImage::Format_RGB32);
    for (int by = 0; by < 6; ++by)
        for (int bx = 0; bx < 8; ++bx)
            blocks.setPixel(bx, by, BlockColour(bx, by));
    const struct {
        const char* Name;
        const TGraphic& Graphic;
        std::string File;
        QImage Expected;
        int Tolerance; // over the three channels
        uint64_t Quick;
        // The looks handed over in turn and the rows each had when first
        // shown: a JPEG row by row, a JPEG 2000 tile whole.
        std::vector<std::pair<QSize, int>> Looks;
    } cases[] = {
        // Chroma at half resolution and quantised: a few levels.
        {"JPEG", jpegImage, dir.File("blocks.jpg"), blocks, 9, kFirstLookQuickSamples, {{{8, 6}, 1}}},
        {"JPEG 2000", jpeg2000Image, dir.File("blocks.jp2"), QImage(QString::fromStdString(dir.File("reduced.ppm"))),
         0, kFirstLookQuickSamples, {{{8, 6}, 6}}},
        // A tile of more samples than the quick look's limit at an eighth
        // (144 against 40) shows as far down as the file goes (4 levels),
        // then at an eighth, handed over whole.
        {"JPEG 2000, large tile", jpeg2000Image, dir.File("blocks.jp2"),
         QImage(QString::fromStdString(dir.File("reduced.ppm"))), 0, 40, {{{4, 3}, 3}, {{8, 6}, 6}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFirstLookPtr look;
        std::vector<std::pair<QSize, int>> looks;
        DecodeFirstLook(
            c.Graphic, c.File,
            [&](const TFirstLookPtr& shown) {
                if (shown != look)
                    looks.push_back({QSize(shown->Width(), shown->Height()), shown->Rows()});
                look = shown;
            },
            c.Quick);
        ASSERT_TRUE(look);
        EXPECT_EQ(looks, c.Looks);
        EXPECT_EQ(look->Full(), QSize(64, 48));
        EXPECT_EQ(QSize(look->Width(), look->Height()), QSize(8, 6));
        EXPECT_EQ(look->Rows(), 6);
        const QImage done = look->Done();
        QImage view(64, 48, QImage::Format_RGB32);
        QPainter painter(&view);
        PaintFirstLook(painter, *look, 1.0, view.rect());
        painter.end();
        ASSERT_EQ(c.Expected.size(), QSize(8, 6));
        for (int by = 0; by < 6; ++by)
            for (int bx = 0; bx < 8; ++bx) {
                const QRgb got = done.pixel(bx, by);
                EXPECT_LE(Distance(got, c.Expected.pixel(bx, by)), c.Tolerance) << bx << ", " << by;
                // Enlarged smoothly, the middle of the block is nearly its pixel.
                EXPECT_LE(Distance(view.pixel(bx * 8 + 4, by * 8 + 4), got), 8) << bx << ", " << by;
            }
    }
}

} // namespace

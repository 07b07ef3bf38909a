// EPS files shown by their TIFF preview, and the TIFF and EPS rows of the
// format registry.
#include "imaging/format_registry.h"
#include "imaging/readers/eps_graphic.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "tests/imaging/readers/tiff_test_builder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace tifftest;

namespace {

using Bytes = std::vector<uint8_t>;

const std::string EPSInvalid = "Cannot load image. Invalid or unexpected EPS image format.";

void Put32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A binary EPS: header, PostScript text, then the TIFF preview.
Bytes EPS(const Bytes& tiff, uint32_t magic = 0xC6D3D0C5)
{
    const std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 2 1\nshowpage\n";
    Bytes out;
    Put32(out, magic);
    Put32(out, 30);
    Put32(out, static_cast<uint32_t>(ps.size()));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, static_cast<uint32_t>(30 + ps.size()));
    Put32(out, static_cast<uint32_t>(tiff.size()));
    out.push_back(0xFF);
    out.push_back(0xFF);
    out.insert(out.end(), ps.begin(), ps.end());
    out.insert(out.end(), tiff.begin(), tiff.end());
    return out;
}

Bytes Preview()
{
    return TiffBuilder(true).Image(2, 1, 8, 3, 2, 1, {{255, 0, 0, 0, 0, 255}}).Build();
}

std::unique_ptr<TEPSGraphic> LoadEPS(const Bytes& bytes)
{
    auto g = std::make_unique<TEPSGraphic>();
    TMemoryStream stream(bytes.data(), bytes.size());
    g->LoadFromStream(stream);
    return g;
}

} // namespace

TEST(EpsGraphic, BinaryEPSShowsItsTIFFPreview)
{
    const Bytes bytes = EPS(Preview());
    const auto g = LoadEPS(bytes);
    EXPECT_EQ(Pixels(*g), (std::vector<uint32_t>{0xFF0000, 0x0000FF}));
    EXPECT_EQ(g->BasePosition, bytes[20]) << "TIFF offsets count from the preview";
}

TEST(EpsGraphic, Refusals)
{
    const std::string plain = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nnewpath 0 0 moveto showpage\n";
    Bytes jbig = EPS(TiffBuilder().Image(1, 1, 1, 1, 0, 34661, {{0x80}}).Build());
    Bytes notTiff = EPS(Bytes(40, 'x'));
    Bytes beyond = EPS(Preview());
    beyond[20] = 0xF0; // preview offset far past the end
    beyond[23] = 0x0F;
    const std::pair<const char*, std::pair<Bytes, std::string>> cases[] = {
        {"plain-text PostScript", {Bytes(plain.begin(), plain.end()), EPSInvalid}},
        {"shorter than the header", {Bytes{0xC5, 0xD0, 0xD3, 0xC6, 0}, EPSInvalid}},
        {"preview beyond the end", {beyond, EPSInvalid}},
        {"JBIG preview",
         {jbig, "Cannot load image. The compression scheme is not supported for TIF/TIFF files."}},
        {"preview that is no TIFF", {notTiff, "Cannot load image. Invalid or unexpected TIF/TIFF image format."}},
    };
    for (const auto& [name, c] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ErrorOf([&] { LoadEPS(c.first); }), c.second);
    }
}

TEST(EpsGraphic, CanLoadStream)
{
    const Bytes good = EPS(Preview());
    Bytes empty = good;
    empty[24] = empty[25] = empty[26] = empty[27] = 0; // preview length 0
    Bytes early = good;
    early[20] = 20; // preview inside the header
    early[21] = 0;
    const std::pair<const char*, std::pair<Bytes, bool>> cases[] = {
        {"binary EPS", {good, true}},
        {"wrong magic", {EPS(Preview(), 0x12345678), false}},
        {"empty preview", {empty, false}},
        {"preview inside the header", {early, false}},
        {"30 bytes only", {Bytes(good.begin(), good.begin() + 30), false}},
    };
    for (const auto& [name, c] : cases) {
        SCOPED_TRACE(name);
        TMemoryStream stream(c.first.data(), c.first.size());
        EXPECT_EQ(TEPSGraphic::CanLoadStream(stream), c.second);
        EXPECT_EQ(stream.Position(), 0);
    }
}

TEST(TiffRegistry, RowsAndWithdrawal)
{
    InitializeImaging();
    const std::pair<const char*, const char*> rows[] = {
        {"tiff", "Macintosh TIFF images"},
        {"tif", "PC TIF images"},
        {"fax", "GFI fax images"},
        {"eps", "Encapsulated Postscript images"},
    };
    for (const auto& [extension, description] : rows) {
        SCOPED_TRACE(extension);
        const int index = FileFormatList->FindExtension(extension);
        ASSERT_GE(index, 0);
        const auto& entry = FileFormatList->Extension(index);
        const bool eps = std::string(extension) == "eps";
        EXPECT_EQ(entry.FormatTypes, eps ? fkRaster : fkMultiImage | fkRaster);
        EXPECT_EQ(entry.ClassEntry->GraphicClass, eps ? &TEPSGraphic::ClassType() : &TTIFFGraphic::ClassType());
        EXPECT_EQ(entry.ClassEntry->Description, eps ? description : "Tagged image file format images");
        bool found = false;
        for (const auto& platform : PictureFormats())
            if (platform.Extension == extension)
                found = platform.Description == description;
        EXPECT_TRUE(found);
    }
    EXPECT_EQ(FindPictureClass("TIF"), &TTIFFGraphic::ClassType());
    EXPECT_EQ(FindPictureClass("Tif"), &TTIFFGraphic::ClassType());

    // Withdrawing the TIFF class withdraws the EPS class derived from it.
    FileFormatList->UnregisterFormat("", TTIFFGraphic::ClassType());
    EXPECT_EQ(FindPictureClass("tif"), nullptr);
    EXPECT_EQ(FindPictureClass("eps"), nullptr);
    FinalizeImaging();
}

TEST(TiffRegistry, LoadingByFileNameUsesTheExtension)
{
    InitializeImaging();
    pwtest::TempDir dir;
    const Bytes tiff = Preview();
    pwtest::WriteBytes(dir.File("a.TIF"), tiff);
    pwtest::WriteBytes(dir.File("a.eps"), EPS(tiff));
    pwtest::WriteBytes(dir.File("b.eps"), tiff);
    const auto graphic = LoadPictureFile(dir.File("a.TIF"));
    EXPECT_EQ(&graphic->ClassInfo(), &TTIFFGraphic::ClassType());
    EXPECT_EQ(graphic->Width(), 2);
    EXPECT_EQ(&LoadPictureFile(dir.File("a.eps"))->ClassInfo(), &TEPSGraphic::ClassType());
    EXPECT_EQ(ErrorOf([&] { LoadPictureFile(dir.File("b.eps")); }), EPSInvalid);
    FinalizeImaging();
}

#include "imaging/format_registry.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/picture.h"

#include <gtest/gtest.h>

namespace {

// Picture classes made for these tests: a base and one derived from it.
class TBaseTestGraphic : public TBitmap {
    PW_GRAPHIC_CLASS(TBaseTestGraphic)
};
class TDerivedTestGraphic : public TBaseTestGraphic {
    PW_GRAPHIC_CLASS(TDerivedTestGraphic)
};
class TOtherTestGraphic : public TBitmap {
    PW_GRAPHIC_CLASS(TOtherTestGraphic)
};
PW_DEFINE_GRAPHIC_CLASS(TBaseTestGraphic, TBitmap)
PW_DEFINE_GRAPHIC_CLASS(TDerivedTestGraphic, TBaseTestGraphic)
PW_DEFINE_GRAPHIC_CLASS(TOtherTestGraphic, TBitmap)

const TGraphicClass& Base = TBaseTestGraphic::ClassType();
const TGraphicClass& Derived = TDerivedTestGraphic::ClassType();
const TGraphicClass& Other = TOtherTestGraphic::ClassType();

std::string PlatformDescription(const std::string& extension)
{
    const auto list = PictureFormats();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->Extension == extension)
            return it->Description;
    return "<absent>";
}

class FormatRegistry : public ::testing::Test {
protected:
    void TearDown() override
    {
        list.Clear();
        UnregisterPictureClass(Base);
        UnregisterPictureClass(Other);
    }
    TFileFormatList list;
};

} // namespace

TEST_F(FormatRegistry, ClassDescriptionFillsRowsWithoutTheirOwn)
{
    list.RegisterFormat("tst1", "Test images", "", fkRaster, false, Base);
    list.RegisterFormat("tst2", "", "", fkRaster, false, Base);
    list.RegisterFormat("tst3", "", "Third kind", fkRaster, false, Base);
    EXPECT_EQ(PlatformDescription("tst2"), "Test images");
    EXPECT_EQ(PlatformDescription("tst3"), "Third kind");
    ASSERT_EQ(list.ClassCount(), 1);
    EXPECT_EQ(list.ClassEntry(0).Count, 3);
    EXPECT_EQ(FindPictureClass("TST2"), &Base);
}

TEST_F(FormatRegistry, RegisteringTwiceWithoutReplaceFailsAndChangesNothing)
{
    list.RegisterFormat("Tst", "Test images", "", fkRaster, false, Base);
    const size_t platformEntries = PictureFormats().size();
    try {
        list.RegisterFormat("TST", "", "", fkRaster, false, Other);
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Attempt to register TST twice.");
    }
    EXPECT_EQ(PictureFormats().size(), platformEntries);
    EXPECT_EQ(list.ExtensionCount(), 1);
}

TEST_F(FormatRegistry, ReplaceMovesTheExtensionAndDropsAnEmptiedClass)
{
    list.RegisterFormat("tst", "Base images", "Own text", fkRaster, false, Base);
    list.RegisterFormat("tst", "Other images", "", fkVector, true, Other);
    ASSERT_EQ(list.ClassCount(), 1);
    EXPECT_EQ(list.ClassEntry(0).GraphicClass, &Other);
    EXPECT_EQ(list.Extension(0).Description, "Own text");
    EXPECT_EQ(list.Extension(0).FormatTypes, fkRaster);
    EXPECT_EQ(FindPictureClass("tst"), &Other);
}

TEST_F(FormatRegistry, UnregisteringOneExtensionKeepsThePlatformEntryWhileTheClassHasOthers)
{
    list.RegisterFormat("tsa", "Test images", "", fkRaster, false, Base);
    list.RegisterFormat("tsb", "", "", fkRaster, false, Base);
    list.UnregisterFormat("tsb", Other); // the class argument is not consulted here
    EXPECT_EQ(list.FindExtension("tsb"), -1);
    EXPECT_EQ(list.ClassEntry(0).Count, 1);
    EXPECT_EQ(FindPictureClass("tsb"), &Base);
    list.UnregisterFormat("tsa", Base);
    EXPECT_EQ(list.ClassCount(), 0);
    EXPECT_EQ(FindPictureClass("tsa"), nullptr);
    EXPECT_EQ(FindPictureClass("tsb"), nullptr);
}

TEST_F(FormatRegistry, WithdrawingAClassWithdrawsItsDescendants)
{
    list.RegisterFormat("tsa", "Base images", "", fkRaster, false, Base);
    list.RegisterFormat("tsd", "Derived images", "", fkRaster, false, Derived);
    list.RegisterFormat("tso", "Other images", "", fkRaster, false, Other);
    list.UnregisterFormat("", Base);
    EXPECT_EQ(FindPictureClass("tsa"), nullptr);
    EXPECT_EQ(FindPictureClass("tsd"), nullptr);
    EXPECT_EQ(FindPictureClass("tso"), &Other);
    EXPECT_GE(list.FindExtension("tsd"), 0); // the registry keeps the derived class's own row
    EXPECT_EQ(list.FindClass(Base), -1);
}

TEST_F(FormatRegistry, FindIgnoresCaseAndRefusesEmptyExtensions)
{
    list.RegisterFormat("Tif", "T", "", fkRaster, false, Base);
    EXPECT_EQ(list.FindExtension("tIF"), 0);
    EXPECT_EQ(list.FindExtension(""), -1);
    EXPECT_EQ(list.FindClass(Derived), -1); // no inheritance in class lookup
    list.RegisterFormat("", "T", "", fkRaster, false, Other);
    EXPECT_EQ(list.ExtensionCount(), 1);
}

TEST(StartupRegistry, RowsDecideLookupsAndShutdownWithdrawsThem)
{
    InitializeImaging();
    InitializeImaging(); // a second start-up is counted, not repeated
    ASSERT_NE(FileFormatList, nullptr);
    EXPECT_EQ(FindPictureClass("BMP"), &TBitmap::ClassType());
    EXPECT_EQ(PlatformDescription("rle"), "Run length encoded Windows bitmaps");
    EXPECT_EQ(PlatformDescription("dib"), "Device independant Windows bitmaps");
    const int bitmapClass = FileFormatList->FindClass(TBitmap::ClassType());
    ASSERT_GE(bitmapClass, 0);
    EXPECT_EQ(FileFormatList->ClassEntry(bitmapClass).Count, 3);
    FileFormatList->UnregisterFormat("rle", TBitmap::ClassType());
    EXPECT_EQ(FileFormatList->ClassEntry(bitmapClass).Count, 2);
    EXPECT_EQ(FindPictureClass("rle"), &TBitmap::ClassType());
    FinalizeImaging();
    EXPECT_NE(FileFormatList, nullptr);
    FinalizeImaging();
    EXPECT_EQ(FileFormatList, nullptr);
}

TEST(PictureLoading, UnknownExtensionNamesTheExtensionAsWritten)
{
    TPicture picture;
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"/tmp/photo.XyZ", "Unknown picture file extension (.XyZ)"},
             {"/tmp/no_extension", "Unknown picture file extension (.)"},
             {"/tmp/dir.d/file", "Unknown picture file extension (.)"}}) {
        try {
            picture.LoadFromFile(name);
            ADD_FAILURE() << name;
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(std::string(e.what()), text);
        }
    }
    EXPECT_EQ(picture.Graphic(), nullptr);
}

#include "georef/existing_georef.h"
#include "georef/json_text.h"
#include "imaging/jpeg_image.h"
#include "imaging/raster_graphic.h"
#include "platform/bitmap.h"
#include "platform/icon.h"
#include "platform/picture.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* BitmapFormatName(TBitmapFormat format)
{
    switch (format) {
    case bfDevice:
        return "bfDevice";
    case bf1Bit:
        return "bf1Bit";
    case bf4Bit:
        return "bf4Bit";
    case bf8Bit:
        return "bf8Bit";
    case bf15Bit:
        return "bf15Bit";
    case bf16Bit:
        return "bf16Bit";
    case bf24Bit:
        return "bf24Bit";
    case bf32Bit:
        return "bf32Bit";
    case bfCustom:
        return "bfCustom";
    }
    return "bfCustom";
}

TJson Flags(TImageFlags flags)
{
    static const std::pair<TImageFlag, const char*> names[] = {
        {ifTiled, "ifTiled"},
        {ifBigEndian, "ifBigEndian"},
        {ifMinIsWhite, "ifMinIsWhite"},
        {ifReversedBitOrder, "ifReversedBitOrder"},
        {ifGammaApplied, "ifGammaApplied"},
    };
    TJson set = TJson::array();
    for (const auto& [flag, name] : names)
        if (flags & flag)
            set.push_back(name);
    return set;
}

TJson Properties(const TImageProperties& p)
{
    return {
        {"FormatVersion", p.FormatVersion},
        {"Flags", Flags(p.Flags)},
        {"Width", p.Width},
        {"Height", p.Height},
        {"PixelScheme", PixelSchemeName(p.PixelScheme)},
        {"BitsPerSample", p.BitsPerSample},
        {"SamplesPerPixel", p.SamplesPerPixel},
        {"BitsPerPixel", p.BitsPerPixel},
        {"CompressionKind", CompressionKindName(p.CompressionKind)},
        {"Gamma", JsonNumber(p.Gamma)},
        {"XResolution", JsonNumber(p.XResolution)},
        {"YResolution", JsonNumber(p.YResolution)},
        {"IsInterlaced", p.IsInterlaced},
        {"AlphaPresent", p.AlphaPresent},
        {"FirstIFDOffset", p.FirstIFDOffset},
        {"PlanarConfiguration", p.PlanarConfiguration},
        {"RowIndex", p.RowIndex},
        {"TileWidth", p.TileWidth},
        {"TileLength", p.TileLength},
        {"RowBytes", p.RowBytes},
        {"RowsPerStrip", p.RowsPerStrip},
        {"YCbCrSubSampling", p.YCbCrSubSampling},
        {"JPEGTables", p.JPEGTables},
        {"JPEGColorMode", p.JPEGColorMode},
        {"JPEGTablesMode", p.JPEGTablesMode},
        {"StripIndex", p.StripIndex},
        {"StripCount", p.StripCount},
        {"Predictor", p.Predictor},
        {"PCDOverview", p.PCDOverview},
        {"PCDRotation", p.PCDRotation},
        {"PCDImageCount", p.PCDImageCount},
        {"StoredBottomUp", p.StoredBottomUp},
        {"ChannelCount", p.ChannelCount},
        {"PNGFilterMethod", p.PNGFilterMethod},
    };
}

// The bitmap format the picture shows in, when it is known without decoding.
const char* PixelFormatName(TGraphic& graphic)
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&graphic))
        return BitmapFormatName(bitmap->PixelFormat());
    if (auto* icon = dynamic_cast<TIcon*>(&graphic))
        return BitmapFormatName(icon->ViewBitmap().PixelFormat());
    if (auto* jpeg = dynamic_cast<TJPEGImage*>(&graphic)) {
        if (jpeg->HasBitmap())
            return BitmapFormatName(jpeg->ViewBitmap().PixelFormat());
        // Decoding gives 8 bits with a palette for grey or 8-bit output.
        const bool grey = jpeg->Grayscale() || (jpeg->Data() && jpeg->Data()->Grayscale);
        return grey || jpeg->PixelFormat() == jf8Bit ? "bf8Bit" : "bf24Bit";
    }
    return nullptr;
}


class TInfoCommand final : public TCommand {
public:
    void Declare(TCommandLine& line) override
    {
        line.Summary("describe a picture as JSON");
        line.Positional("FILE", "a picture", FFile);
        line.Description(R"(Loads FILE as the workbench loads it and prints a JSON object: the picture
class, width, height, pixel format and the image properties its reader
found.)");
        line.Epilogue("Exit status: 0 success, 1 the file cannot be loaded, 2 a usage error.");
    }

    int Run() override
    {
        const std::unique_ptr<TGraphic> graphic = LoadPictureFile(FFile);
        TJson info;
        info["class"] = graphic->ClassInfo().Name;
        info["width"] = graphic->Width();
        info["height"] = graphic->Height();
        if (const char* format = PixelFormatName(*graphic))
            info["pixelFormat"] = format;
        if (const auto* raster = dynamic_cast<const TRasterGraphic*>(graphic.get()))
            info["properties"] = Properties(raster->ImageProperties);
        // The picture's own georeferencing: where it comes from, the
        // geotransform from the top-left corner, the system.
        if (const std::optional<TExistingGeoref> g = ReadExistingGeoref(FFile)) {
            TJson& georef = info["georeferencing"];
            georef["source"] = g->Source;
            georef["file"] = g->SourceFile;
            georef["geoTransform"] = g->GeoTransform;
            georef["crs"] = g->Crs.Given() ? TJson(g->Crs.Id()) : TJson(nullptr);
            georef["crsName"] = g->Crs.Given() ? TJson(g->Crs.Name) : TJson(nullptr);
            georef["wkt"] = g->Wkt.empty() ? TJson(nullptr) : TJson(g->Wkt);
        }
        std::cout << JsonText(info) << std::endl;
        return 0;
    }

private:
    std::string FFile;
};

const TCommandRegistration Registration("info", MakeCommand<TInfoCommand>);

} // namespace

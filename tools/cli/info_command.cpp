#include "georef/existing_georef.h"
#include "imaging/jpeg_image.h"
#include "imaging/raster_graphic.h"
#include "platform/bitmap.h"
#include "platform/icon.h"
#include "platform/picture.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"

#include <charconv>
#include <cmath>
#include <iostream>
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

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Number(float value)
{
    if (!std::isfinite(value))
        return "null";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

template <typename T>
std::string Array(const std::vector<T>& values)
{
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i)
        out += (i ? ", " : "") + std::to_string(values[i]);
    return out + "]";
}

std::string Flags(TImageFlags flags)
{
    static const std::pair<TImageFlag, const char*> names[] = {
        {ifTiled, "ifTiled"},
        {ifBigEndian, "ifBigEndian"},
        {ifMinIsWhite, "ifMinIsWhite"},
        {ifReversedBitOrder, "ifReversedBitOrder"},
        {ifGammaApplied, "ifGammaApplied"},
    };
    std::vector<std::string> set;
    for (const auto& [flag, name] : names)
        if (flags & flag)
            set.push_back(Quoted(name));
    std::string out = "[";
    for (size_t i = 0; i < set.size(); ++i)
        out += (i ? ", " : "") + set[i];
    return out + "]";
}

// One JSON object, written member by member with two spaces per level.
class TJsonObject {
public:
    explicit TJsonObject(int level) : FLevel(level) {}

    void Add(const std::string& name, const std::string& json)
    {
        FText += (FText.empty() ? "" : ",\n") + std::string(2 * (FLevel + 1), ' ') + Quoted(name) + ": " + json;
    }
    void Add(const std::string& name, uint64_t value) { Add(name, std::to_string(value)); }
    void Add(const std::string& name, bool value) { Add(name, std::string(value ? "true" : "false")); }
    std::string Text() const { return "{\n" + FText + "\n" + std::string(2 * FLevel, ' ') + "}"; }

private:
    int FLevel;
    std::string FText;
};

std::string Properties(const TImageProperties& p)
{
    TJsonObject o(1);
    o.Add("FormatVersion", uint64_t(p.FormatVersion));
    o.Add("Flags", Flags(p.Flags));
    o.Add("Width", uint64_t(p.Width));
    o.Add("Height", uint64_t(p.Height));
    o.Add("PixelScheme", Quoted(PixelSchemeName(p.PixelScheme)));
    o.Add("BitsPerSample", uint64_t(p.BitsPerSample));
    o.Add("SamplesPerPixel", uint64_t(p.SamplesPerPixel));
    o.Add("BitsPerPixel", uint64_t(p.BitsPerPixel));
    o.Add("CompressionKind", Quoted(CompressionKindName(p.CompressionKind)));
    o.Add("Gamma", Number(p.Gamma));
    o.Add("XResolution", Number(p.XResolution));
    o.Add("YResolution", Number(p.YResolution));
    o.Add("IsInterlaced", p.IsInterlaced);
    o.Add("AlphaPresent", p.AlphaPresent);
    o.Add("FirstIFDOffset", uint64_t(p.FirstIFDOffset));
    o.Add("PlanarConfiguration", uint64_t(p.PlanarConfiguration));
    o.Add("RowIndex", uint64_t(p.RowIndex));
    o.Add("TileWidth", uint64_t(p.TileWidth));
    o.Add("TileLength", uint64_t(p.TileLength));
    o.Add("RowBytes", uint64_t(p.RowBytes));
    o.Add("RowsPerStrip", Array(p.RowsPerStrip));
    o.Add("YCbCrSubSampling", Array(p.YCbCrSubSampling));
    o.Add("JPEGTables", Array(p.JPEGTables));
    o.Add("JPEGColorMode", uint64_t(p.JPEGColorMode));
    o.Add("JPEGTablesMode", uint64_t(p.JPEGTablesMode));
    o.Add("StripIndex", uint64_t(p.StripIndex));
    o.Add("StripCount", uint64_t(p.StripCount));
    o.Add("Predictor", uint64_t(p.Predictor));
    o.Add("PCDOverview", p.PCDOverview);
    o.Add("PCDRotation", uint64_t(p.PCDRotation));
    o.Add("PCDImageCount", uint64_t(p.PCDImageCount));
    o.Add("StoredBottomUp", p.StoredBottomUp);
    o.Add("ChannelCount", uint64_t(p.ChannelCount));
    o.Add("PNGFilterMethod", uint64_t(p.PNGFilterMethod));
    return o.Text();
}

std::string Number(double value)
{
    if (!std::isfinite(value))
        return "null";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// What the picture's own georeferencing says: where it comes from, the
// geotransform from the top-left corner, the system.
std::string Georeferencing(const TExistingGeoref& g)
{
    TJsonObject o(1);
    o.Add("source", Quoted(g.Source));
    o.Add("file", Quoted(g.SourceFile));
    std::string transform = "[";
    for (size_t i = 0; i < g.GeoTransform.size(); ++i)
        transform += (i ? ", " : "") + Number(g.GeoTransform[i]);
    o.Add("geoTransform", transform + "]");
    o.Add("crs", g.Crs.Given() ? Quoted(g.Crs.Id()) : std::string("null"));
    o.Add("crsName", g.Crs.Given() ? Quoted(g.Crs.Name) : std::string("null"));
    o.Add("wkt", g.Wkt.empty() ? std::string("null") : Quoted(g.Wkt));
    return o.Text();
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

} // namespace

int RunInfoCommand(int argc, char** argv)
{
    if (argc != 2)
        RaiseUsage("pinwright-cli info FILE");
    const std::unique_ptr<TGraphic> graphic = LoadPictureFile(argv[1]);
    TJsonObject o(0);
    o.Add("class", Quoted(graphic->ClassInfo().Name));
    o.Add("width", uint64_t(graphic->Width()));
    o.Add("height", uint64_t(graphic->Height()));
    if (const char* format = PixelFormatName(*graphic))
        o.Add("pixelFormat", Quoted(format));
    if (const auto* raster = dynamic_cast<const TRasterGraphic*>(graphic.get()))
        o.Add("properties", Properties(raster->ImageProperties));
    if (const std::optional<TExistingGeoref> georef = ReadExistingGeoref(argv[1]))
        o.Add("georeferencing", Georeferencing(*georef));
    std::cout << o.Text() << std::endl;
    return 0;
}

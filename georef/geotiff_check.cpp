#include "georef/geotiff_check.h"

#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <memory>
#include <sstream>

namespace {

constexpr ttag_t ModelPixelScaleTag = 33550;
constexpr ttag_t ModelTiepointTag = 33922;
constexpr ttag_t ModelTransformationTag = 34264;

// Keeps libtiff's complaints about the unknown GeoTIFF tags off stderr and
// the first real error for the caller.
int CollectError(TIFF*, void* userData, const char* module, const char* format, va_list args)
{
    auto* error = static_cast<std::string*>(userData);
    if (error->empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        *error = module ? std::string(module) + ": " + text : text;
    }
    return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

// libtiff keeps tags it does not know as anonymous fields whose count type
// follows the field's read count.
std::vector<double> ReadDoubles(TIFF* tif, ttag_t tag)
{
    const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
    if (!field || TIFFFieldDataType(field) != TIFF_DOUBLE || !TIFFFieldPassCount(field))
        return {};
    void* data = nullptr;
    uint32_t count = 0;
    if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
        if (!TIFFGetField(tif, tag, &count, &data))
            return {};
    } else {
        uint16_t count16 = 0;
        if (!TIFFGetField(tif, tag, &count16, &data))
            return {};
        count = count16;
    }
    if (!data)
        return {};
    const auto* values = static_cast<const double*>(data);
    return std::vector<double>(values, values + count);
}

bool Near(double a, double b)
{
    return std::fabs(a - b) <= 1e-9 * std::fmax(1.0, std::fabs(b));
}

} // namespace

bool ReadGeoTiffPlacement(const std::string& fileName, TGeoTiffPlacement& placement, std::string& error)
{
    placement = {};
    error.clear();
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                          &TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &CollectError, &error);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &IgnoreWarning, nullptr);
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpenExt(fileName.c_str(), "r", options.get()), &TIFFClose);
    if (!tif) {
        if (error.empty())
            error = "Cannot open " + fileName;
        return false;
    }
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &placement.Width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &placement.Height);
    placement.PixelScale = ReadDoubles(tif.get(), ModelPixelScaleTag);
    placement.TiePoint = ReadDoubles(tif.get(), ModelTiepointTag);
    placement.Transformation = ReadDoubles(tif.get(), ModelTransformationTag);
    return true;
}

bool PlacementMatches(const TGeoTiffPlacement& placement, const TAffineTransform& e)
{
    if (e.B != 0 || e.D != 0) {
        const auto& m = placement.Transformation;
        return m.size() >= 16 && placement.TiePoint.empty() && placement.PixelScale.empty() && Near(m[0], e.A) &&
               Near(m[1], e.B) && Near(m[3], e.MapY(-0.5, -0.5)) && Near(m[4], e.D) && Near(m[5], e.E) &&
               Near(m[7], e.MapX(-0.5, -0.5));
    }
    const auto& scale = placement.PixelScale;
    const auto& tie = placement.TiePoint;
    if (scale.size() < 3 || tie.size() < 6 || !placement.Transformation.empty())
        return false;
    return Near(scale[0], e.A) && Near(scale[1], -e.E) && scale[2] == 0 &&
           Near(tie[3], e.MapY(tie[0] - 0.5, tie[1] - 0.5)) && Near(tie[4], e.MapX(tie[0] - 0.5, tie[1] - 0.5));
}

bool TiePointsMatch(const TGeoTiffPlacement& placement, const TControlPoints& points)
{
    const auto& tie = placement.TiePoint;
    if (tie.size() != 6 * points.size() || !placement.PixelScale.empty() || !placement.Transformation.empty())
        return false;
    for (size_t i = 0; i < points.size(); ++i) {
        const double* t = &tie[6 * i];
        const TControlPoint& p = points[i];
        if (!Near(t[0], p.Col + 0.5) || !Near(t[1], p.Row + 0.5) || t[2] != 0 || !Near(t[3], p.East) ||
            !Near(t[4], p.North) || t[5] != 0)
            return false;
    }
    return true;
}

bool ParseWorldFileText(const std::string& text, TAffineTransform& transform)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::istringstream lines(text);
    std::string line;
    double values[6];
    for (double& value : values) {
        if (!std::getline(lines, line))
            return false;
        char* end = nullptr;
        value = strtod_l(line.c_str(), &end, cLocale);
        if (end == line.c_str())
            return false;
    }
    transform = {values[0], values[1], values[2], values[3], values[4], values[5]};
    return true;
}

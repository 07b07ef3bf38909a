#include "georef/existing_georef.h"

#include "georef/fit_methods.h"
#include "georef/fit_model.h"
#include "platform/exceptions.h"

#include <geotiff/geotiff.h>
#include <geotiff/geovalues.h>
#include <geotiff/xtiffio.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace {

using TTransform = std::array<double, 6>;

std::string ReadWhole(const std::string& fileName, size_t limit)
{
    std::ifstream in(fileName, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

bool Exists(const std::string& fileName)
{
    std::error_code error;
    return std::filesystem::is_regular_file(fileName, error);
}

// The text between <tag ...> and </tag>, or "" when it is missing.
std::string Element(const std::string& xml, const std::string& tag, size_t from = 0, size_t* end = nullptr)
{
    const size_t open = xml.find("<" + tag, from);
    if (open == std::string::npos)
        return "";
    const size_t content = xml.find('>', open);
    const size_t close = xml.find("</" + tag + ">", content);
    if (content == std::string::npos || close == std::string::npos)
        return "";
    if (end)
        *end = close;
    return xml.substr(content + 1, close - content - 1);
}

std::string Unescaped(std::string text)
{
    static const std::pair<const char*, const char*> entities[] = {
        {"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : entities)
        for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, std::strlen(entity), plain);
    return text;
}

// Numbers separated by commas or white space; false unless exactly count.
bool ParseNumbers(std::string text, size_t count, double* out)
{
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    size_t n = 0;
    double v;
    while (in >> v) {
        if (n == count || !std::isfinite(v))
            return false;
        out[n++] = v;
    }
    return n == count && in.eof();
}

// ---- PAM .aux.xml: GDAL's geotransform as it stands --------------------------

std::optional<TExistingGeoref> ReadAuxXml(const std::string& imageFile)
{
    const std::string aux = imageFile + ".aux.xml";
    if (!Exists(aux))
        return std::nullopt;
    const std::string xml = ReadWhole(aux, 1 << 20);
    const std::string numbers = Element(xml, "GeoTransform");
    if (numbers.empty())
        return std::nullopt;
    TExistingGeoref g;
    g.Source = "aux.xml";
    g.SourceFile = aux;
    if (!ParseNumbers(numbers, 6, g.GeoTransform.data()))
        throw Exception("The file '" + aux + "' holds no six numbers in its GeoTransform: '" + numbers + "'");
    g.Wkt = Unescaped(Element(xml, "SRS"));
    return g;
}

// ---- GeoTIFF tags, in a file or in a JPEG 2000 file's GeoTIFF box ------------

struct TTiffCloser {
    void operator()(TIFF* t) const { XTIFFClose(t); }
};
struct TGtifFree {
    void operator()(GTIF* g) const { GTIFFree(g); }
};

// A GeoTIFF in memory, for the box of a JPEG 2000 file.
struct TMemoryTiff {
    std::string Bytes;
    toff_t Position = 0;
};
tsize_t MemoryRead(thandle_t h, tdata_t buffer, tsize_t size)
{
    auto& m = *static_cast<TMemoryTiff*>(h);
    const toff_t n = std::min<toff_t>(toff_t(size), m.Position < m.Bytes.size() ? m.Bytes.size() - m.Position : 0);
    std::memcpy(buffer, m.Bytes.data() + m.Position, n);
    m.Position += n;
    return tsize_t(n);
}
tsize_t MemoryWrite(thandle_t, tdata_t, tsize_t)
{
    return 0;
}
toff_t MemorySeek(thandle_t h, toff_t offset, int whence)
{
    auto& m = *static_cast<TMemoryTiff*>(h);
    const toff_t base = whence == SEEK_CUR ? m.Position : whence == SEEK_END ? m.Bytes.size() : 0;
    m.Position = base + offset;
    return m.Position;
}
int MemoryClose(thandle_t)
{
    return 0;
}
toff_t MemorySize(thandle_t h)
{
    return static_cast<TMemoryTiff*>(h)->Bytes.size();
}
int MemoryMap(thandle_t, tdata_t*, toff_t*)
{
    return 0;
}
void MemoryUnmap(thandle_t, tdata_t, toff_t) {}

// The geotransform of the tags, as GIS tools read them: the matrix, or the
// first tie point with the pixel scale; a raster of pixels at grid points
// moves half a pixel.
std::optional<TExistingGeoref> ReadGeoTiffTags(TIFF* tif, const std::string& source)
{
    TExistingGeoref g;
    g.Source = source;
    TTransform& t = g.GeoTransform;
    uint16_t count = 0;
    double* values = nullptr;
    if (TIFFGetField(tif, TIFFTAG_GEOTRANSMATRIX, &count, &values) && count >= 16) {
        t = {values[3], values[0], values[1], values[7], values[4], values[5]};
    } else {
        double* ties = nullptr;
        uint16_t tieCount = 0;
        if (!TIFFGetField(tif, TIFFTAG_GEOTIEPOINTS, &tieCount, &ties) || tieCount < 6 ||
            !TIFFGetField(tif, TIFFTAG_GEOPIXELSCALE, &count, &values) || count < 2)
            return std::nullopt;
        t = {ties[3] - ties[0] * values[0], values[0], 0, ties[4] + ties[1] * values[1], 0, -values[1]};
    }
    std::unique_ptr<GTIF, TGtifFree> keys(GTIFNew(tif));
    if (keys) {
        unsigned short raster = RasterPixelIsArea;
        if (GTIFKeyGet(keys.get(), GTRasterTypeGeoKey, &raster, 0, 1) == 1 && raster == RasterPixelIsPoint) {
            t[0] -= 0.5 * t[1] + 0.5 * t[2];
            t[3] -= 0.5 * t[4] + 0.5 * t[5];
        }
        unsigned short code = 0;
        if ((GTIFKeyGet(keys.get(), ProjectedCSTypeGeoKey, &code, 0, 1) == 1 && code > 0 && code < 32767) ||
            (GTIFKeyGet(keys.get(), GeographicTypeGeoKey, &code, 0, 1) == 1 && code > 0 && code < 32767)) {
            try {
                g.Crs = LookupCrs("EPSG:" + std::to_string(code));
            } catch (const Exception&) {
                // A code PROJ does not know leaves the system unnamed.
            }
        }
    }
    return g;
}

std::optional<TExistingGeoref> ReadGeoTiff(const std::string& imageFile)
{
    TIFFSetWarningHandler(nullptr);
    std::unique_ptr<TIFF, TTiffCloser> tif(XTIFFOpen(imageFile.c_str(), "r"));
    if (!tif)
        return std::nullopt;
    auto g = ReadGeoTiffTags(tif.get(), "GeoTIFF");
    if (g)
        g->SourceFile = imageFile;
    return g;
}

// ---- JPEG 2000 boxes: the GeoTIFF box and the GML coverage -------------------

constexpr uint8_t GeoTiffUuid[16] = {0xB1, 0x4B, 0xF8, 0xBD, 0x08, 0x3D, 0x4B, 0x43,
                                     0xA5, 0xAE, 0x8C, 0xD7, 0xD5, 0xA6, 0xCE, 0x03};

struct TJp2Boxes {
    std::string GeoTiff;  // the GeoTIFF box's TIFF
    std::string GmlXml;   // the first XML text holding a rectified grid
};

uint64_t BigEndian(const unsigned char* p, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

// Walks the boxes between begin and end of the file's first bytes (or the
// whole file for the top level), reading the content of small boxes only.
void WalkBoxes(std::ifstream& in, uint64_t begin, uint64_t end, TJp2Boxes& found, int depth)
{
    constexpr uint64_t MaxBox = 16 << 20;
    for (uint64_t at = begin; at + 8 <= end && depth < 4;) {
        unsigned char head[16];
        in.clear();
        in.seekg(std::streamoff(at));
        if (!in.read(reinterpret_cast<char*>(head), 8))
            return;
        uint64_t length = BigEndian(head, 4), header = 8;
        const std::string type(reinterpret_cast<char*>(head + 4), 4);
        if (length == 1) {
            if (!in.read(reinterpret_cast<char*>(head + 8), 8))
                return;
            length = BigEndian(head + 8, 8), header = 16;
        } else if (length == 0) {
            length = end - at;
        }
        if (length < header || length > end - at)
            return;
        const uint64_t content = at + header, size = length - header;
        if (type == "asoc") {
            WalkBoxes(in, content, at + length, found, depth + 1);
        } else if ((type == "uuid" || type == "xml ") && size <= MaxBox) {
            std::string bytes(size, '\0');
            in.seekg(std::streamoff(content));
            if (!in.read(bytes.data(), std::streamsize(size)))
                return;
            if (type == "uuid" && size > 16 && std::memcmp(bytes.data(), GeoTiffUuid, 16) == 0 && found.GeoTiff.empty())
                found.GeoTiff = bytes.substr(16);
            else if (type == "xml " && found.GmlXml.empty() && bytes.find("RectifiedGrid") != std::string::npos)
                found.GmlXml = bytes;
        }
        at += length;
    }
}

// The GML grid's origin is the centre of the first pixel and its offset
// vectors are the steps of one column and one row; a system whose axes are
// latitude first gives both in that order.
std::optional<TExistingGeoref> ReadGml(const std::string& xml, const std::string& file)
{
    size_t end = 0;
    const std::string grid = Element(xml, "gml:RectifiedGrid", 0, &end);
    double origin[2], column[2], row[2];
    size_t second = 0;
    const std::string first = Element(grid, "gml:offsetVector", 0, &second);
    if (grid.empty() || !ParseNumbers(Element(Element(grid, "gml:origin"), "gml:pos"), 2, origin) ||
        !ParseNumbers(first, 2, column) || !ParseNumbers(Element(grid, "gml:offsetVector", second), 2, row))
        return std::nullopt;
    TExistingGeoref g;
    g.Source = "GMLJP2";
    g.SourceFile = file;
    const size_t name = xml.find("srsName=\"");
    if (name != std::string::npos) {
        const std::string srs = xml.substr(name + 9, xml.find('"', name + 9) - name - 9);
        const size_t colon = srs.find_last_of(':');
        try {
            if (colon != std::string::npos)
                g.Crs = LookupCrs("EPSG:" + srs.substr(colon + 1));
        } catch (const Exception&) {
        }
    }
    if (g.Crs.Geographic) {
        std::swap(origin[0], origin[1]);
        std::swap(column[0], column[1]);
        std::swap(row[0], row[1]);
    }
    g.GeoTransform = {origin[0] - 0.5 * column[0] - 0.5 * row[0], column[0], row[0],
                      origin[1] - 0.5 * column[1] - 0.5 * row[1], column[1], row[1]};
    return g;
}

std::optional<TExistingGeoref> ReadJp2(const std::string& imageFile)
{
    std::ifstream in(imageFile, std::ios::binary);
    unsigned char signature[12] = {};
    if (!in.read(reinterpret_cast<char*>(signature), 12) || BigEndian(signature + 4, 4) != 0x6A502020)
        return std::nullopt;
    in.seekg(0, std::ios::end);
    const uint64_t size = uint64_t(in.tellg());
    TJp2Boxes boxes;
    WalkBoxes(in, 0, size, boxes, 0);
    if (!boxes.GeoTiff.empty()) {
        TMemoryTiff memory{boxes.GeoTiff, 0};
        TIFFSetWarningHandler(nullptr);
        std::unique_ptr<TIFF, TTiffCloser> tif(XTIFFClientOpen("GeoJP2", "rm", &memory, MemoryRead, MemoryWrite,
                                                               MemorySeek, MemoryClose, MemorySize, MemoryMap,
                                                               MemoryUnmap));
        if (tif) {
            if (auto g = ReadGeoTiffTags(tif.get(), "GeoJP2")) {
                g->SourceFile = imageFile;
                return g;
            }
        }
    }
    if (!boxes.GmlXml.empty())
        return ReadGml(boxes.GmlXml, imageFile);
    return std::nullopt;
}

// ---- World file: the centre of the first pixel -------------------------------

std::optional<TExistingGeoref> ReadWorldFile(const std::string& imageFile)
{
    const std::filesystem::path path(imageFile);
    std::string extension = path.extension().string();
    if (extension.size() < 2)
        return std::nullopt;
    extension.erase(0, 1);
    // IMAGE.tfw (first and last letter of the extension, then w), IMAGE.tifw, IMAGE.wld.
    const std::string shortForm = std::string(1, extension.front()) + extension.back() + "w";
    for (const std::string& candidate : {shortForm, extension + "w", std::string("wld")}) {
        for (const bool upper : {false, true}) {
            std::string side = candidate;
            for (char& c : side)
                c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                            : std::tolower(static_cast<unsigned char>(c)));
            std::filesystem::path world = path;
            world.replace_extension(side);
            if (!Exists(world.string()))
                continue;
            double v[6];
            if (!ParseNumbers(ReadWhole(world.string(), 4096), 6, v))
                throw Exception("The world file '" + world.string() + "' does not hold six numbers");
            TExistingGeoref g;
            g.Source = "world file";
            g.SourceFile = world.string();
            g.GeoTransform = {v[4] - 0.5 * v[0] - 0.5 * v[2], v[0], v[2], v[5] - 0.5 * v[1] - 0.5 * v[3], v[1], v[3]};
            return g;
        }
    }
    return std::nullopt;
}

} // namespace

TAffineTransform TExistingGeoref::Affine() const
{
    const TTransform& g = GeoTransform;
    TAffineTransform t;
    t.A = g[1], t.B = g[2], t.C = g[0] + 0.5 * g[1] + 0.5 * g[2];
    t.D = g[4], t.E = g[5], t.F = g[3] + 0.5 * g[4] + 0.5 * g[5];
    return t;
}

// The system a sidecar names when the georeferencing's own source names
// none: the SRS of IMAGE.aux.xml (as written beside a world file, without a
// GeoTransform), else IMAGE.prj.
std::string SidecarWkt(const std::string& imageFile)
{
    const std::string aux = imageFile + ".aux.xml";
    if (Exists(aux)) {
        const std::string wkt = Unescaped(Element(ReadWhole(aux, 1 << 20), "SRS"));
        if (!wkt.empty())
            return wkt;
    }
    std::filesystem::path prj(imageFile);
    prj.replace_extension(".prj");
    return Exists(prj.string()) ? ReadWhole(prj.string(), 1 << 16) : std::string();
}

std::optional<TExistingGeoref> ReadExistingGeoref(const std::string& imageFile)
{
    std::optional<TExistingGeoref> pam = ReadAuxXml(imageFile);
    std::optional<TExistingGeoref> internal = ReadJp2(imageFile);
    if (!internal) {
        uint8_t head[4] = {};
        std::ifstream(imageFile, std::ios::binary).read(reinterpret_cast<char*>(head), 4);
        if ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))
            internal = ReadGeoTiff(imageFile);
    }
    std::optional<TExistingGeoref> found = pam ? pam : internal ? internal : ReadWorldFile(imageFile);
    if (!found)
        return std::nullopt;
    // The system: the source's own, else the sidecar's, else the file's.
    if (!found->Crs.Given() && found->Wkt.empty() && found->Source == "world file")
        found->Wkt = SidecarWkt(imageFile);
    if (!found->Crs.Given() && !found->Wkt.empty()) {
        try {
            found->Crs = CrsFromWkt(found->Wkt);
        } catch (const Exception&) {
        }
    }
    if (!found->Crs.Given() && internal)
        found->Crs = internal->Crs;
    if (found->Wkt.empty())
        found->Wkt = found->Crs.Wkt;
    return found;
}

TExistingCheck CheckExistingGeoref(const TExistingGeoref& georef, const TControlPoints& points)
{
    TExistingCheck check;
    const TFitModelPtr model = AffineModel(georef.Affine());
    for (const TControlPoint& p : points) {
        check.Residuals.push_back(MeasurePoint(p, *model));
        check.RmsMap += check.Residuals.back().Distance * check.Residuals.back().Distance;
        check.RmsPixels += check.Residuals.back().Pixels * check.Residuals.back().Pixels;
    }
    if (!points.empty()) {
        check.RmsMap = std::sqrt(check.RmsMap / double(points.size()));
        check.RmsPixels = std::sqrt(check.RmsPixels / double(points.size()));
    }
    return check;
}

std::vector<std::string> ExistingCheckLines(const TExistingGeoref& georef, const TControlPoints& points,
                                            const TExistingCheck& check)
{
    std::vector<std::string> lines;
    lines.push_back("Existing georeferencing: " + georef.Source + " in " + georef.SourceFile +
                    (georef.Crs.Given() ? ", " + georef.Crs.Id() + " (" + georef.Crs.Name + ")" : ", no system"));
    // Map units of a degree or less need more decimals than metres.
    const TAffineTransform t = georef.Affine();
    const char* map = std::hypot(t.A, t.D) < 0.01 ? "%.7f" : "%.3f";
    char line[256], error[64];
    std::snprintf(line, sizeof line, "%5s %10s %10s %16s %16s %12s %10s", "Point", "Column", "Row", "East", "North",
                  "Error (map)", "Error (px)");
    lines.push_back(line);
    for (size_t i = 0; i < points.size() && i < check.Residuals.size(); ++i) {
        const TControlPoint& p = points[i];
        const TPointResidual& r = check.Residuals[i];
        std::snprintf(error, sizeof error, map, r.Distance);
        std::snprintf(line, sizeof line, "%5d %10.3f %10.3f %16.3f %16.3f %12s %10.3f", p.Id, p.Col, p.Row, p.East,
                      p.North, error, r.Pixels);
        lines.push_back(line);
    }
    std::snprintf(error, sizeof error, map, check.RmsMap);
    std::snprintf(line, sizeof line, "RMS of the %zu points: %.3f pixels, %s map units", points.size(), check.RmsPixels,
                  error);
    lines.push_back(line);
    return lines;
}

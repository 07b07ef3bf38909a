#include "georef/crs.h"

#include "georef/coordinates.h"
#include "platform/exceptions.h"

#include <proj.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>

namespace {

struct TContextFree {
    void operator()(PJ_CONTEXT* context) const { proj_context_destroy(context); }
};
struct TPjFree {
    void operator()(PJ* pj) const { proj_destroy(pj); }
};
struct TListFree {
    void operator()(PJ_OBJ_LIST* list) const { proj_list_destroy(list); }
};
using TContext = std::unique_ptr<PJ_CONTEXT, TContextFree>;
using TPj = std::unique_ptr<PJ, TPjFree>;

TContext NewContext()
{
    TContext context(proj_context_create());
    if (!context)
        throw Exception("Cannot start PROJ to look up coordinate reference systems");
    // Lookups that fail are reported by us; PROJ's own log stays quiet.
    proj_log_level(context.get(), PJ_LOG_NONE);
    return context;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool IsDigits(const std::string& text)
{
    return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isdigit(c) != 0;
    });
}

std::string Wkt(PJ_CONTEXT* context, PJ* crs, PJ_WKT_TYPE type, bool multiline)
{
    const char* options[] = {multiline ? "MULTILINE=YES" : "MULTILINE=NO", nullptr};
    const char* text = proj_as_wkt(context, crs, type, options);
    return text ? text : "";
}

// The TCrs of an EPSG system; raises for a type GeoTIFF keys cannot carry.
TCrs Describe(PJ_CONTEXT* context, PJ* crs, int code, const std::string& asked)
{
    const PJ_TYPE type = proj_get_type(crs);
    const bool geographic = type == PJ_TYPE_GEOGRAPHIC_2D_CRS;
    if (!geographic && type != PJ_TYPE_PROJECTED_CRS)
        throw Exception("The coordinate reference system '" + asked +
                        "' is neither projected nor geographic 2D");
    if (code <= 0 || code > 65535)
        throw Exception("The coordinate reference system '" + asked + "' has no EPSG code for GeoTIFF keys");
    TCrs result;
    result.Code = code;
    const char* name = proj_get_name(crs);
    result.Name = name ? name : "";
    result.Geographic = geographic;
    result.Wkt = Wkt(context, crs, PJ_WKT1_GDAL, false);
    result.EsriWkt = Wkt(context, crs, PJ_WKT1_ESRI, false);
    result.Wkt2 = Wkt(context, crs, PJ_WKT2_2019, false);
    return result;
}

TCrs FromCode(PJ_CONTEXT* context, int code, const std::string& asked)
{
    TPj crs(proj_create_from_database(context, "EPSG", std::to_string(code).c_str(), PJ_CATEGORY_CRS, 0,
                                      nullptr));
    if (!crs)
        throw Exception("Unknown coordinate reference system '" + asked + "'");
    return Describe(context, crs.get(), code, asked);
}

int EpsgCode(PJ* crs)
{
    const char* authority = proj_get_id_auth_name(crs, 0);
    const char* code = proj_get_id_code(crs, 0);
    if (authority && code && std::string(authority) == "EPSG" && IsDigits(code))
        return std::stoi(code);
    return 0;
}

std::string XmlEscape(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

std::string TCrs::Id() const
{
    return "EPSG:" + std::to_string(Code);
}

TCrs LookupCrs(const std::string& text)
{
    const std::string asked = Trim(text);
    if (asked.empty())
        return {};
    TContext context = NewContext();
    std::string code = asked;
    if (Lower(code.substr(0, 5)) == "epsg:")
        code = Trim(code.substr(5));
    if (IsDigits(code))
        return FromCode(context.get(), std::stoi(code), asked);

    const PJ_TYPE types[] = {PJ_TYPE_PROJECTED_CRS, PJ_TYPE_GEOGRAPHIC_2D_CRS};
    std::unique_ptr<PJ_OBJ_LIST, TListFree> list(
        proj_create_from_name(context.get(), "EPSG", asked.c_str(), types, 2, 0, 0, nullptr));
    const int count = list ? proj_list_get_count(list.get()) : 0;
    for (int i = 0; i < count; ++i) {
        TPj candidate(proj_list_get(context.get(), list.get(), i));
        const char* name = candidate ? proj_get_name(candidate.get()) : nullptr;
        if (name && Lower(name) == Lower(asked))
            return Describe(context.get(), candidate.get(), EpsgCode(candidate.get()), asked);
    }
    throw Exception("Unknown coordinate reference system '" + asked + "'");
}

TCrs CrsFromWkt(const std::string& wkt)
{
    TContext context = NewContext();
    TPj crs(proj_create(context.get(), wkt.c_str()));
    if (!crs || !proj_is_crs(crs.get()))
        throw Exception("Cannot read the coordinate reference system of the point file");
    // A WKT 1 with TOWGS84 is read as the system bound to WGS 84; the system
    // itself is the one it names.
    if (proj_get_type(crs.get()) == PJ_TYPE_BOUND_CRS)
        crs.reset(proj_get_source_crs(context.get(), crs.get()));
    if (!crs)
        throw Exception("Cannot read the coordinate reference system of the point file");
    int code = EpsgCode(crs.get());
    if (code == 0) {
        int* confidence = nullptr;
        std::unique_ptr<PJ_OBJ_LIST, TListFree> matches(
            proj_identify(context.get(), crs.get(), "EPSG", nullptr, &confidence));
        if (matches && proj_list_get_count(matches.get()) > 0 && confidence[0] >= 90) {
            TPj best(proj_list_get(context.get(), matches.get(), 0));
            code = best ? EpsgCode(best.get()) : 0;
        }
        proj_int_list_destroy(confidence);
    }
    if (code == 0)
        throw Exception("The coordinate reference system of the point file matches no EPSG code");
    return FromCode(context.get(), code, "EPSG:" + std::to_string(code));
}

std::string GeoKeyMetadataText(const TCrs& crs)
{
    return GeoKeyMetadataText(crs, {});
}

std::string GeoKeyMetadataText(const TCrs& crs, const TControlPoints& tiePoints)
{
    std::string text = "Geotiff_Information:\n"
                       "   Version: 1\n"
                       "   Key_Revision: 1.0\n"
                       "   Tagged_Information:\n";
    if (!tiePoints.empty()) {
        // Two rows of three per point: I, J, K then X, Y, Z.
        text += "      ModelTiepointTag (" + std::to_string(2 * tiePoints.size()) + ",3):\n";
        for (const TControlPoint& p : tiePoints) {
            text += "         " + ShortestText(p.Col + 0.5) + " " + ShortestText(p.Row + 0.5) + " 0\n";
            text += "         " + ShortestText(p.East) + " " + ShortestText(p.North) + " 0\n";
        }
    }
    text += "      End_Of_Tags.\n"
            "   Keyed_Information:\n";
    if (crs.Given())
        text += crs.Geographic ? "      GTModelTypeGeoKey (Short,1): ModelTypeGeographic\n"
                               : "      GTModelTypeGeoKey (Short,1): ModelTypeProjected\n";
    text += "      GTRasterTypeGeoKey (Short,1): RasterPixelIsArea\n";
    if (crs.Given()) {
        std::string citation = crs.Name;
        std::replace(citation.begin(), citation.end(), '"', '\'');
        const std::string code = std::to_string(crs.Code);
        // The count includes the terminating zero.
        text += "      GTCitationGeoKey (Ascii," + std::to_string(citation.size() + 1) + "): \"" + citation + "\"\n";
        text += crs.Geographic ? "      GeographicTypeGeoKey (Short,1): Code-" + code + "\n"
                               : "      ProjectedCSTypeGeoKey (Short,1): Code-" + code + "\n";
    }
    text += "      End_Of_Keys.\n"
            "   End_Of_Geotiff.\n";
    return text;
}

std::string PamAuxXmlText(const TCrs& crs)
{
    // Without an axis mapping GDAL takes the traditional GIS order, east first.
    return "<PAMDataset>\n  <SRS>" + XmlEscape(crs.Wkt) + "</SRS>\n</PAMDataset>\n";
}

void ConvertPoints(const TCrs& from, const TCrs& to, std::vector<TMapXY>& points)
{
    TContext context = NewContext();
    TPj raw(proj_create_crs_to_crs(context.get(), from.Id().c_str(), to.Id().c_str(), nullptr));
    // Longitude first and easting first, whatever axis order the systems define.
    TPj transform(raw ? proj_normalize_for_visualization(context.get(), raw.get()) : nullptr);
    if (!transform)
        throw Exception("PROJ cannot convert coordinates from " + from.Id() + " to " + to.Id());
    for (size_t i = 0; i < points.size(); ++i) {
        const PJ_COORD out = proj_trans(transform.get(), PJ_FWD, proj_coord(points[i].X, points[i].Y, 0, 0));
        if (!std::isfinite(out.xy.x) || !std::isfinite(out.xy.y) || out.xy.x == HUGE_VAL)
            throw Exception("Point " + std::to_string(i + 1) + " (" + ShortestText(points[i].X) + ", " +
                            ShortestText(points[i].Y) + ") cannot be converted from " + from.Id() + " to " +
                            to.Id());
        points[i] = {out.xy.x, out.xy.y};
    }
}

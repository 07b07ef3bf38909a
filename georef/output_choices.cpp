#include "georef/output_choices.h"

#include "georef/points_text.h"
#include "platform/exceptions.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace {

using nlohmann::json;

const char* const Resamplings[] = {"near", "bilinear", "cubic", "lanczos"};

double Cross(const TMapXY& o, const TMapXY& a, const TMapXY& b)
{
    return (a.X - o.X) * (b.Y - o.Y) - (a.Y - o.Y) * (b.X - o.X);
}

// Every position of a ring finite, the ring at least a triangle.
void CheckRings(const json& rings, const std::string& fileName)
{
    if (!rings.is_array() || rings.empty())
        throw Exception("The outline '" + fileName + "' has a polygon without rings");
    for (const json& ring : rings) {
        if (!ring.is_array() || ring.size() < 4)
            throw Exception("The outline '" + fileName + "' has a ring of fewer than four positions");
        for (const json& position : ring)
            if (!position.is_array() || position.size() < 2 || !position[0].is_number() ||
                !position[1].is_number() || !std::isfinite(position[0].get<double>()) ||
                !std::isfinite(position[1].get<double>()))
                throw Exception("The outline '" + fileName + "' has a position that is not two finite numbers: " +
                                position.dump());
    }
}

const json* FindPolygon(const json& node)
{
    if (!node.is_object() || !node.contains("type"))
        return nullptr;
    const json& type = node["type"];
    if (type == "Polygon" || type == "MultiPolygon")
        return &node;
    if (type == "Feature" && node.contains("geometry"))
        return FindPolygon(node["geometry"]);
    if (type == "FeatureCollection" && node.contains("features") && node["features"].is_array())
        for (const json& feature : node["features"])
            if (const json* found = FindPolygon(feature))
                return found;
    return nullptr;
}

// Every position under node, an array of positions or of arrays of them.
void Extend(const json& node, TMapBounds& bounds, bool& any)
{
    if (!node.is_array())
        return;
    if (node.size() >= 2 && node[0].is_number() && node[1].is_number()) {
        const double x = node[0].get<double>(), y = node[1].get<double>();
        bounds = any ? TMapBounds{std::min(bounds.West, x), std::min(bounds.South, y), std::max(bounds.East, x),
                                  std::max(bounds.North, y)}
                     : TMapBounds{x, y, x, y};
        any = true;
        return;
    }
    for (const json& child : node)
        Extend(child, bounds, any);
}

} // namespace

TMapBounds GeometryBounds(const std::string& geometry)
{
    const json parsed = json::parse(geometry, nullptr, false);
    TMapBounds bounds;
    bool any = false;
    if (parsed.is_object() && parsed.contains("coordinates"))
        Extend(parsed["coordinates"], bounds, any);
    if (!any || !(bounds.East > bounds.West) || !(bounds.North > bounds.South))
        throw Exception("The outline to clip to encloses no area");
    return bounds;
}

std::span<const char* const> ResamplingNames()
{
    return Resamplings;
}

void RequireResampling(const std::string& name)
{
    if (std::find_if(std::begin(Resamplings), std::end(Resamplings), [&](const char* n) { return name == n; }) ==
        std::end(Resamplings))
        throw Exception("Unknown resampling '" + name + "' (the resamplings are near, bilinear, cubic, lanczos)");
}

std::string RingGeometry(const std::vector<TMapXY>& ring)
{
    json positions = json::array();
    for (const TMapXY& p : ring)
        positions.push_back({p.X, p.Y});
    if (!ring.empty())
        positions.push_back({ring[0].X, ring[0].Y});
    return json({{"type", "Polygon"}, {"coordinates", {positions}}}).dump();
}

std::vector<TMapXY> FittedPointsHull(const TControlPoints& points)
{
    std::vector<TMapXY> xy;
    for (const TControlPoint& p : points)
        if (p.Role == TPointRole::Fitted)
            xy.push_back({p.East, p.North});
    if (xy.size() < 3)
        throw Exception("The fitted points enclose no area to clip to");
    std::sort(xy.begin(), xy.end(), [](const TMapXY& a, const TMapXY& b) { return a.X < b.X || (a.X == b.X && a.Y < b.Y); });
    // Andrew's monotone chain: the lower hull, then the upper.
    std::vector<TMapXY> hull(2 * xy.size());
    size_t k = 0;
    for (size_t i = 0; i < xy.size(); ++i) {
        while (k >= 2 && Cross(hull[k - 2], hull[k - 1], xy[i]) <= 0)
            --k;
        hull[k++] = xy[i];
    }
    for (size_t i = xy.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && Cross(hull[k - 2], hull[k - 1], xy[i]) <= 0)
            --k;
        hull[k++] = xy[i];
    }
    hull.resize(k > 0 ? k - 1 : 0);
    if (hull.size() < 3)
        throw Exception("The fitted points enclose no area to clip to");
    return hull;
}

std::string ReadClipGeometry(const std::string& fileName)
{
    const std::string text = ReadPointsText(fileName);
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception&) {
        throw Exception("The outline '" + fileName + "' is not GeoJSON");
    }
    const json* polygon = FindPolygon(root);
    if (!polygon || !polygon->contains("coordinates"))
        throw Exception("The outline '" + fileName + "' holds no Polygon or MultiPolygon");
    const json& coordinates = (*polygon)["coordinates"];
    if ((*polygon)["type"] == "Polygon") {
        CheckRings(coordinates, fileName);
    } else {
        if (!coordinates.is_array() || coordinates.empty())
            throw Exception("The outline '" + fileName + "' has a MultiPolygon without polygons");
        for (const json& rings : coordinates)
            CheckRings(rings, fileName);
    }
    return json({{"type", (*polygon)["type"]}, {"coordinates", coordinates}}).dump();
}

std::string CutlineText(const std::string& geometry, const TCrs& crs)
{
    json collection = {{"type", "FeatureCollection"}};
    if (crs.Given())
        collection["crs"] = {{"type", "name"},
                             {"properties", {{"name", "urn:ogc:def:crs:EPSG::" + std::to_string(crs.Code)}}}};
    collection["features"] = {
        {{"type", "Feature"}, {"properties", json::object()}, {"geometry", json::parse(geometry)}}};
    return collection.dump() + "\n";
}

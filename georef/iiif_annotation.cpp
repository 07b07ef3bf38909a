// IIIF georeference annotations (extension 1.0): an Annotation, or an
// AnnotationPage of several, whose body is a GeoJSON FeatureCollection of
// points. Each feature's properties.resourceCoords is the pixel position
// counted from the image's top-left corner (earlier drafts called it
// pixelCoords); its geometry a Point in WGS 84 longitude and latitude. The
// body's transformation names the fit.
#include "georef/coordinates.h"
#include "georef/points_formats.h"
#include "georef/points_text.h"
#include "platform/exceptions.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

const char* const GeorefContext = "http://iiif.io/api/extension/georef/1/context.json";
const char* const PresentationContext = "http://iiif.io/api/presentation/3/context.json";

// The extension's transformation types and ours; polynomial by its order.
struct TTransformName {
    const char* Ours;
    const char* Type;
    int Order;
};
const TTransformName TransformNames[] = {
    {"affine", "polynomial", 1},       {"polynomial2", "polynomial", 2}, {"polynomial3", "polynomial", 3},
    {"tps", "thinPlateSpline", 0},     {"helmert", "helmert", 0},         {"similarity", "helmert", 0},
    {"projective", "projective", 0},
};

class TReader {
public:
    TReader(const std::string& fileName) : FFileName(fileName) {}

    [[noreturn]] void Fail(const std::string& member, const std::string& what) const
    {
        throw Exception("The point file '" + FFileName + "', member " + member + ", " + what);
    }

    const json& Member(const json& object, const std::string& path, const char* name) const
    {
        if (!object.is_object() || !object.contains(name))
            Fail(path, std::string("has no member ") + name);
        return object[name];
    }

    double Number(const json& value, const std::string& path, const std::string& what) const
    {
        if (!value.is_number())
            throw Exception("'" + value.dump() + "' in the point file '" + FFileName + "', member " + path + " (" +
                            what + "), is not a number");
        const double number = value.get<double>();
        if (!std::isfinite(number))
            throw Exception(NotFiniteMessage(value.dump(), FFileName, "member " + path, what));
        return number;
    }

    // Two numbers [a, b] (a third, a height, is allowed and ignored).
    std::pair<double, double> Pair(const json& value, const std::string& path, const char* first,
                                   const char* second) const
    {
        if (!value.is_array() || value.size() < 2 || value.size() > 3)
            Fail(path, "is not a pair of numbers");
        return {Number(value[0], path + "[0]", first), Number(value[1], path + "[1]", second)};
    }

    std::string Transform(const json& body, const std::string& path) const
    {
        if (!body.contains("transformation"))
            return {};
        const std::string member = path + ".transformation";
        const json& t = body["transformation"];
        const json& type = Member(t, member, "type");
        if (!type.is_string())
            Fail(member + ".type", "is not a text");
        int order = 0;
        if (t.contains("options") && t["options"].is_object() && t["options"].contains("order")) {
            const double value = Number(t["options"]["order"], member + ".options.order", "order");
            order = value >= 1 && value <= 3 ? static_cast<int>(value) : -1;
        }
        if (type == "polynomial" && order == 0)
            order = 1;
        for (const TTransformName& n : TransformNames)
            if (type == n.Type && order == n.Order)
                return n.Ours;
        Fail(member, "names the transformation " + type.get<std::string>() +
                         (order != 0 ? " of order " + std::to_string(order) : std::string()) +
                         ", which has no equal here");
    }

    void Annotation(const json& annotation, const std::string& path, TGcpPoints& result) const
    {
        const json& body = Member(annotation, path, "body");
        const std::string bodyPath = path.empty() ? "body" : path + ".body";
        if (!body.is_object())
            Fail(bodyPath, "is not a FeatureCollection");
        const std::string transform = Transform(body, bodyPath);
        if (!transform.empty())
            result.Transform = transform;
        const json& features = Member(body, bodyPath, "features");
        if (!features.is_array())
            Fail(bodyPath + ".features", "is not a list");
        for (size_t i = 0; i < features.size(); ++i) {
            const std::string at = bodyPath + ".features[" + std::to_string(i) + "]";
            const json& feature = features[i];
            const json& properties = Member(feature, at, "properties");
            const char* name = properties.is_object() && properties.contains("resourceCoords") ? "resourceCoords"
                                                                                                : "pixelCoords";
            const auto pixel = Pair(Member(properties, at + ".properties", name), at + ".properties." + name, "x",
                                    "y");
            const json& geometry = Member(feature, at, "geometry");
            const json& type = Member(geometry, at + ".geometry", "type");
            if (type != "Point")
                Fail(at + ".geometry", "is not a Point");
            const auto lonLat = Pair(Member(geometry, at + ".geometry", "coordinates"),
                                     at + ".geometry.coordinates", "longitude", "latitude");
            TControlPoint point;
            point.Id = static_cast<int>(result.Points.size()) + 1;
            point.Col = pixel.first - 0.5;
            point.Row = pixel.second - 0.5;
            point.East = lonLat.first;
            point.North = lonLat.second;
            if (properties.contains("role") && properties["role"] == "check")
                point.Role = TPointRole::Check;
            result.Points.push_back(point);
            result.Where.push_back("member " + at);
        }
    }

private:
    std::string FFileName;
};

// Line and column of a byte offset, for a parse error.
std::string LineAndColumn(const std::string& text, size_t offset)
{
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

} // namespace

TGcpPoints ParseAnnotation(const std::string& text, const std::string& fileName)
{
    RequireText(text, fileName);
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& error) {
        const size_t at = std::min<size_t>(error.byte > 0 ? error.byte - 1 : 0, text.size());
        const size_t end = std::min(text.find_first_of(",]}: \t\r\n", at + 1), at + 20);
        const std::string token = text.substr(at, std::min(end, text.size()) - at);
        throw Exception("The point file '" + fileName + "' is not JSON: " + LineAndColumn(text, at) +
                        (token.empty() ? std::string(", the text ends early") : " ('" + token + "') cannot be read"));
    } catch (const json::exception& error) {
        // A number too large for a double: the library's reason names it.
        const std::string reason = error.what();
        const size_t bracket = reason.find("] ");
        throw Exception("The point file '" + fileName + "' is not JSON: " +
                        (bracket == std::string::npos ? reason : reason.substr(bracket + 2)));
    }
    const TReader reader(fileName);
    TGcpPoints result;
    const json& type = reader.Member(root, "(top)", "type");
    if (type == "AnnotationPage") {
        const json& items = reader.Member(root, "(top)", "items");
        if (!items.is_array())
            reader.Fail("items", "is not a list");
        for (size_t i = 0; i < items.size(); ++i)
            reader.Annotation(items[i], "items[" + std::to_string(i) + "]", result);
    } else if (type == "Annotation") {
        reader.Annotation(root, "", result);
    } else {
        reader.Fail("type", "is neither Annotation nor AnnotationPage");
    }
    if (result.Points.empty())
        throw Exception("The point file '" + fileName + "' holds no points");
    result.Crs = LookupCrs("EPSG:4326");
    return result;
}

std::string AnnotationText(const TControlPoints& lonLat, const std::string& transform,
                           const TPointsPicture& picture)
{
    ordered_json features = ordered_json::array();
    for (const TControlPoint& p : lonLat) {
        ordered_json properties = {{"resourceCoords", {p.Col + 0.5, p.Row + 0.5}}};
        if (p.Role == TPointRole::Check)
            properties["role"] = "check";
        features.push_back({{"type", "Feature"},
                            {"properties", properties},
                            {"geometry", {{"type", "Point"}, {"coordinates", {p.East, p.North}}}}});
    }
    ordered_json body = {{"type", "FeatureCollection"}};
    for (const TTransformName& n : TransformNames) {
        if (transform != n.Ours)
            continue;
        body["transformation"] = {{"type", n.Type}};
        if (n.Order != 0)
            body["transformation"]["options"] = {{"order", n.Order}};
        break;
    }
    body["features"] = features;
    const std::string w = std::to_string(picture.Width), h = std::to_string(picture.Height);
    const std::string uri = "file://" + picture.FileName;
    ordered_json annotation = {
        {"@context", {GeorefContext, PresentationContext}},
        {"id", uri + "#georeference"},
        {"type", "Annotation"},
        {"motivation", "georeferencing"},
        {"target",
         {{"type", "SpecificResource"},
          {"source", {{"id", uri}, {"type", "Image"}, {"width", picture.Width}, {"height", picture.Height}}},
          {"selector",
           {{"type", "SvgSelector"},
            {"value", "<svg width=\"" + w + "\" height=\"" + h + "\"><polygon points=\"0,0 " + w + ",0 " + w + "," +
                          h + " 0," + h + "\" /></svg>"}}}}},
        {"body", body},
    };
    // A file name that is not UTF-8 is written with replacement characters.
    return annotation.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

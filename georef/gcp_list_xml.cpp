// GCP lists in GDAL's XML files: a VRT (<VRTDataset>) or the PAM sidecar
// of an image (<PAMDataset>, IMAGE.aux.xml), each with
// <GCPList Projection="WKT"><GCP Id Info Pixel Line X Y Z/>...</GCPList>.
// Pixel and Line count from the image's top-left corner, so the centre of
// the first pixel is 0.5, 0.5; X is the easting or longitude, Y the
// northing or latitude, whatever axis order the system defines. Only tags
// and attributes are read: a small careful scanner, enough for these files,
// that refuses what it does not understand rather than guess.
#include "georef/coordinates.h"
#include "georef/points_formats.h"
#include "georef/points_text.h"
#include "platform/exceptions.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace {

struct TXmlTag {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Attributes;
    bool Closing = false;     // </Name>
    int Line = 1;

    const std::string* Attribute(std::string_view name) const
    {
        for (const auto& a : Attributes)
            if (a.first == name)
                return &a.second;
        return nullptr;
    }
};

class TXmlScanner {
public:
    TXmlScanner(const std::string& text, const std::string& fileName) : FText(text), FFileName(fileName) {}

    // The next element tag; false at the end of the text.
    bool Next(TXmlTag& tag)
    {
        for (;;) {
            const size_t open = FText.find('<', FPos);
            if (open == std::string::npos)
                return false;
            Advance(open);
            if (Starts("<!--"))
                Skip("-->");
            else if (Starts("<![CDATA["))
                Skip("]]>");
            else if (Starts("<?"))
                Skip("?>");
            else if (Starts("<!"))
                Skip(">");
            else
                break;
        }
        tag = {};
        tag.Line = FLine;
        Advance(FPos + 1);
        if (Peek() == '/') {
            tag.Closing = true;
            Advance(FPos + 1);
        }
        tag.Name = Name();
        if (tag.Name.empty())
            Fail("a tag without a name");
        for (;;) {
            SkipBlanks();
            const char c = Peek();
            if (c == '>') {
                Advance(FPos + 1);
                return true;
            }
            if (c == '/' && FPos + 1 < FText.size() && FText[FPos + 1] == '>' && !tag.Closing) {
                Advance(FPos + 2);
                return true;
            }
            if (tag.Closing)
                Fail("an end tag with attributes");
            std::string name = Name();
            if (name.empty())
                Fail("a tag that does not end");
            SkipBlanks();
            if (Peek() != '=')
                Fail("an attribute without a value");
            Advance(FPos + 1);
            SkipBlanks();
            const char quote = Peek();
            if (quote != '"' && quote != '\'')
                Fail("an attribute value without quotes");
            const size_t end = FText.find(quote, FPos + 1);
            if (end == std::string::npos)
                Fail("an attribute value that does not end");
            std::string value = Decode(std::string_view(FText).substr(FPos + 1, end - FPos - 1));
            Advance(end + 1);
            tag.Attributes.emplace_back(std::move(name), std::move(value));
        }
    }

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw Exception("The point file '" + FFileName + "', line " + std::to_string(FLine) +
                        ", is not XML as GDAL writes it: " + what);
    }

private:
    char Peek() const { return FPos < FText.size() ? FText[FPos] : '\0'; }

    bool Starts(std::string_view prefix) const { return std::string_view(FText).substr(FPos).starts_with(prefix); }

    // Moves to position, counting the lines passed.
    void Advance(size_t position)
    {
        for (; FPos < position && FPos < FText.size(); ++FPos)
            FLine += FText[FPos] == '\n';
    }

    void Skip(std::string_view end)
    {
        const size_t at = FText.find(end, FPos);
        if (at == std::string::npos)
            Fail("a comment or declaration that does not end");
        Advance(at + end.size());
    }

    void SkipBlanks()
    {
        while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\r' ||
                                       FText[FPos] == '\n'))
            Advance(FPos + 1);
    }

    std::string Name()
    {
        const size_t start = FPos;
        while (FPos < FText.size()) {
            const char c = FText[FPos];
            const bool nameChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                  c == '_' || c == '-' || c == '.' || c == ':';
            if (!nameChar)
                break;
            ++FPos;
        }
        return FText.substr(start, FPos - start);
    }

    std::string Decode(std::string_view value) const
    {
        static const std::pair<std::string_view, char> Entities[] = {
            {"&quot;", '"'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
        std::string text;
        for (size_t i = 0; i < value.size();) {
            if (value[i] != '&') {
                text += value[i++];
                continue;
            }
            const size_t semicolon = value.find(';', i);
            if (semicolon == std::string_view::npos || semicolon - i > 10)
                Fail("an & that starts no entity");
            const std::string_view entity = value.substr(i, semicolon - i + 1);
            bool known = false;
            for (const auto& [name, c] : Entities)
                if (entity == name) {
                    text += c;
                    known = true;
                }
            if (!known && entity.size() > 3 && entity[1] == '#') {
                // Character references: only the ASCII ones a WKT or a number holds.
                const bool hex = entity[2] == 'x';
                uint32_t code = 0;
                for (size_t k = hex ? 3 : 2; k + 1 < entity.size(); ++k) {
                    const char d = entity[k];
                    const int digit = d >= '0' && d <= '9' ? d - '0'
                                      : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                                      : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                                    : -1;
                    if (digit < 0)
                        Fail("a character reference " + std::string(entity) + " that is not a number");
                    code = code * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
                    if (code > 0x10FFFF)
                        break;
                }
                if (code == 0 || code > 0x7F)
                    Fail("a character reference " + std::string(entity) + " outside ASCII");
                text += static_cast<char>(code);
                known = true;
            }
            if (!known)
                Fail("an unknown entity " + std::string(entity));
            i = semicolon + 1;
        }
        return text;
    }

    const std::string& FText;
    std::string FFileName;
    size_t FPos = 0;
    int FLine = 1;
};

std::string Escape(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '"': escaped += "&quot;"; break;
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string GcpListText(const TControlPoints& points, const TCrs& crs)
{
    std::string text = "  <GCPList";
    if (crs.Given())
        text += " Projection=\"" + Escape(crs.Wkt) + "\"";
    text += ">\n";
    for (const TControlPoint& p : points) {
        text += "    <GCP Id=\"" + std::to_string(p.Id) + "\"";
        if (p.Role == TPointRole::Check)
            text += " Info=\"check\"";
        text += " Pixel=\"" + ShortestText(p.Col + 0.5) + "\" Line=\"" + ShortestText(p.Row + 0.5) + "\" X=\"" +
                ShortestText(p.East) + "\" Y=\"" + ShortestText(p.North) + "\"/>\n";
    }
    return text + "  </GCPList>\n";
}

} // namespace

TGcpPoints ParseGcpListXml(const std::string& text, const std::string& fileName)
{
    RequireText(text, fileName);
    TXmlScanner scanner(text, fileName);
    TGcpPoints result;
    TXmlTag tag;
    bool inList = false, listSeen = false;
    std::string wkt;
    while (scanner.Next(tag)) {
        if (tag.Name == "GCPList") {
            if (tag.Closing) {
                inList = false;
                continue;
            }
            if (listSeen)
                continue;  // GDAL writes one; any further list is not the dataset's
            inList = listSeen = true;
            if (const std::string* projection = tag.Attribute("Projection"))
                wkt = *projection;
            continue;
        }
        if (tag.Name != "GCP" || !inList || tag.Closing)
            continue;
        const std::string where = "line " + std::to_string(tag.Line);
        auto number = [&](const char* name) {
            const std::string* value = tag.Attribute(name);
            if (!value)
                throw Exception("The point file '" + fileName + "', " + where + ", has a GCP without " + name);
            return PointsNumber(*value, fileName, where, name);
        };
        TControlPoint point;
        point.Id = static_cast<int>(result.Points.size()) + 1;
        point.Col = number("Pixel") - 0.5;
        point.Row = number("Line") - 0.5;
        point.East = number("X");
        point.North = number("Y");
        const std::string* info = tag.Attribute("Info");
        if (info && *info == "check")
            point.Role = TPointRole::Check;
        result.Points.push_back(point);
        result.Where.push_back(where);
    }
    if (!listSeen)
        throw Exception("The point file '" + fileName + "' holds no GCPList");
    if (result.Points.empty())
        throw Exception("The point file '" + fileName + "' holds no points");
    if (!wkt.empty()) {
        try {
            result.Crs = CrsFromWkt(wkt);
        } catch (const Exception& error) {
            throw Exception(error.Message() + " '" + fileName + "' (its GCPList's Projection)");
        }
    }
    return result;
}

std::string VrtText(const TControlPoints& points, const TCrs& crs, const TPointsPicture& picture)
{
    return "<VRTDataset rasterXSize=\"" + std::to_string(picture.Width) + "\" rasterYSize=\"" +
           std::to_string(picture.Height) + "\">\n" + GcpListText(points, crs) + "</VRTDataset>\n";
}

std::string PamText(const TControlPoints& points, const TCrs& crs)
{
    return "<PAMDataset>\n" + GcpListText(points, crs) + "</PAMDataset>\n";
}

#include "georef/json_text.h"

#include "georef/coordinates.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

bool Plain(const TJson& value)
{
    return !value.is_object() && !value.is_array();
}

void Write(const TJson& value, int level, bool inLine, std::string& out)
{
    if (value.is_number_float()) {
        out += ShortestText(value.get<double>());
        return;
    }
    if (Plain(value)) {
        out += value.dump(-1, ' ', false, TJson::error_handler_t::replace);
        return;
    }
    const bool object = value.is_object();
    const bool oneLine = inLine || value.empty() ||
                         (!object && std::all_of(value.begin(), value.end(), [](const TJson& v) { return Plain(v); }));
    const std::string indent(2 * (level + 1), ' ');
    out += object ? '{' : '[';
    bool first = true;
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (!first)
            out += ',';
        if (!oneLine)
            out.append(1, '\n').append(indent);
        else if (!first)
            out += ' ';
        if (object)
            out += TJson(it.key()).dump(-1, ' ', false, TJson::error_handler_t::replace) + ": ";
        // Inside an array every object goes on one line.
        Write(*it, level + 1, oneLine || (!object && it->is_object()), out);
        first = false;
    }
    if (!oneLine)
        out.append(1, '\n').append(2 * level, ' ');
    out += object ? '}' : ']';
}

} // namespace

std::string JsonText(const TJson& value)
{
    std::string out;
    Write(value, 0, false, out);
    return out;
}

TJson JsonNumber(double value)
{
    return std::isfinite(value) ? TJson(value) : TJson(nullptr);
}

TJson JsonNumber(float value)
{
    if (!std::isfinite(value))
        return nullptr;
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

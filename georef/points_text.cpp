#include "georef/points_text.h"

#include "platform/exceptions.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

std::string ReadPointsText(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        RaiseIOError(errno);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool BlankText(std::string_view text)
{
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

void RequireText(std::string_view text, const std::string& fileName)
{
    if (BlankText(text))
        throw Exception("The point file '" + fileName + "' is empty");
}

std::string NotFiniteMessage(const std::string& value, const std::string& fileName, const std::string& where,
                             const std::string& what)
{
    return "'" + value + "' in the point file '" + fileName + "', " + where + " (" + what +
           "), is not a finite number";
}

double PointsNumber(std::string_view text, const std::string& fileName, const std::string& where,
                    const std::string& what)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    const std::string_view field =
        first == std::string_view::npos ? std::string_view() : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    // from_chars takes no leading "+", which some writers put before a positive value.
    const std::string_view digits = field.size() > 1 && field[0] == '+' && field[1] != '-' ? field.substr(1) : field;
    double value = 0;
    const char* end = digits.data() + digits.size();
    const auto result = std::from_chars(digits.data(), end, value);
    if (digits.empty() || result.ec != std::errc() || result.ptr != end)
        throw Exception("'" + std::string(field) + "' in the point file '" + fileName + "', " + where + " (" + what +
                        "), is not a number");
    if (!std::isfinite(value))
        throw Exception(NotFiniteMessage(std::string(field), fileName, where, what));
    return value;
}

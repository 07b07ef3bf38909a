#include "georef/coordinates.h"

#include "platform/exceptions.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string_view>

namespace {

constexpr size_t MaxTokenLength = 256;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Scans sign, digits, decimal part and exponent from the start of text and
// returns where the scan stopped; mantissaDigits counts the digits before the
// exponent. An exponent marker without digits is not taken.
size_t ScanNumber(std::string_view text, char decimalSeparator, int& mantissaDigits)
{
    size_t pos = 0;
    mantissaDigits = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        ++pos;
    while (pos < text.size() && IsDigit(text[pos])) {
        ++pos;
        ++mantissaDigits;
    }
    if (pos < text.size() && text[pos] == decimalSeparator) {
        ++pos;
        while (pos < text.size() && IsDigit(text[pos])) {
            ++pos;
            ++mantissaDigits;
        }
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        size_t exponent = pos + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        if (exponent < text.size() && IsDigit(text[exponent])) {
            while (exponent < text.size() && IsDigit(text[exponent]))
                ++exponent;
            pos = exponent;
        }
    }
    return pos;
}

// Converts a text that ScanNumber accepted whole; false when the value does
// not fit a double.
bool ConvertScanned(std::string_view number, char decimalSeparator, double& value)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::string plain(number);
    for (char& c : plain)
        if (c == decimalSeparator)
            c = '.';
    value = strtod_l(plain.c_str(), nullptr, cLocale);
    return std::isfinite(value);
}

// A number with at least one mantissa digit filling the whole text.
bool ParseWhole(std::string_view text, char decimalSeparator, double& value)
{
    int digits = 0;
    if (ScanNumber(text, decimalSeparator, digits) != text.size() || digits == 0)
        return false;
    return ConvertScanned(text, decimalSeparator, value);
}

[[noreturn]] void RaiseNotAFloat(const std::string& text)
{
    throw EConvertError("'" + text + "' is not a valid floating point value");
}

} // namespace

std::string NormaliseDecimal(const std::string& text)
{
    std::string result = text;
    const size_t comma = result.find(',');
    if (comma != std::string::npos)
        result[comma] = '.';
    return result;
}

bool TryParseCoordinate(const std::string& text, double& value)
{
    const std::string_view trimmed = TrimBlanks(text);
    value = 0;
    if (trimmed.empty() || trimmed == ".")
        return true;
    return ParseWhole(trimmed, '.', value);
}

double ParseCoordinate(const std::string& text)
{
    double value = 0;
    if (!TryParseCoordinate(text, value))
        RaiseNotAFloat(text);
    return value;
}

double ReadMapCoordinate(const std::string& text)
{
    double value = 0;
    if (!TryParseCoordinate(NormaliseDecimal(text), value))
        RaiseNotAFloat(text);
    return value;
}

double StrToFloat(const std::string& text, char decimalSeparator)
{
    double value = 0;
    if (!ParseWhole(TrimBlanks(text), decimalSeparator, value))
        RaiseNotAFloat(text);
    return value;
}

std::string ShortestText(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string FloatToStr(double value, char decimalSeparator)
{
    if (value == 0 || !std::isfinite(value))
        return value == 0 ? "0" : std::isnan(value) ? "NAN" : value > 0 ? "INF" : "-INF";
    // 15 significant digits, rounded by the C library on the exact value.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    std::string digits;
    const char* p = buffer;
    for (; *p && *p != 'e'; ++p)
        if (IsDigit(*p))
            digits += *p;
    const int exponent = std::atoi(p + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string text = value < 0 ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        text += digits[0];
        if (digits.size() > 1) {
            text += decimalSeparator;
            text += digits.substr(1);
        }
        text += 'E';
        text += std::to_string(exponent);
    } else if (exponent < 0) {
        text += '0';
        text += decimalSeparator;
        text += std::string(static_cast<size_t>(-exponent - 1), '0');
        text += digits;
    } else {
        const size_t integerDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            text += digits + std::string(integerDigits - digits.size(), '0');
        } else {
            text += digits.substr(0, integerDigits);
            text += decimalSeparator;
            text += digits.substr(integerDigits);
        }
    }
    return text;
}

TPointFileReader::TPointFileReader(const std::string& fileName)
{
    FFile = std::fopen(fileName.c_str(), "rb");
    if (!FFile)
        RaiseIOError(errno);
}

TPointFileReader::~TPointFileReader()
{
    std::fclose(FFile);
}

int TPointFileReader::Get()
{
    errno = 0;
    const int c = std::getc(FFile);
    if (c == EOF && std::ferror(FFile))
        RaiseIOError(errno ? errno : EIO);
    return c;
}

// The next item: separators (codes 0..32) skipped, then everything up to the
// next separator, which is left unread. Empty at the end of the file.
std::string TPointFileReader::NextToken()
{
    int c = Get();
    while (c != EOF && static_cast<unsigned char>(c) <= 32)
        c = Get();
    std::string token;
    while (c != EOF && static_cast<unsigned char>(c) > 32) {
        // No number is this long; a file that is not a point file stops here.
        if (token.size() >= MaxTokenLength)
            throw EInOutError("Invalid numeric input");
        token += static_cast<char>(c);
        c = Get();
    }
    if (c != EOF)
        std::ungetc(c, FFile);
    return token;
}

int TPointFileReader::ReadInteger()
{
    const std::string token = NextToken();
    if (token.empty())
        return 0;
    size_t pos = token[0] == '+' || token[0] == '-' ? 1 : 0;
    if (pos == token.size())
        throw EInOutError("Invalid numeric input");
    long long value = 0;
    for (; pos < token.size(); ++pos) {
        if (!IsDigit(token[pos]))
            throw EInOutError("Invalid numeric input");
        value = value * 10 + (token[pos] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            throw EInOutError("Invalid numeric input");
    }
    if (token[0] == '-')
        value = -value;
    if (value > INT_MAX)
        throw EInOutError("Invalid numeric input");
    return static_cast<int>(value);
}

double TPointFileReader::ReadReal()
{
    const std::string token = NextToken();
    double value = 0;
    if (token.empty() || token == ".")
        return 0;
    if (!ParseWhole(token, '.', value))
        throw EInOutError("Invalid numeric input");
    return value;
}

void TPointFileReader::SkipLine()
{
    int c = Get();
    while (c != EOF && c != '\n')
        c = Get();
}

TPointRecord TPointFileReader::ReadRecord()
{
    TPointRecord record;
    record.Number = ReadInteger();
    record.Y = ReadReal();
    record.X = ReadReal();
    SkipLine();
    return record;
}

void ReadPointFile(const std::string& fileName, char decimalSeparator,
                   const std::function<void(int box, const std::string& text)>& setBox)
{
    TPointFileReader reader(fileName);
    for (int box = 0; box < 4; box += 2) {
        const TPointRecord record = reader.ReadRecord();
        setBox(box, FloatToStr(record.Y, decimalSeparator));
        setBox(box + 1, FloatToStr(record.X, decimalSeparator));
    }
}

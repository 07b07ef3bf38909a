#pragma once
// Map coordinates as the four edit boxes hold them: the text-to-number
// conversions that Save applies, the numbers the point-file reader writes
// into the boxes, and the point-file reader itself.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

// Replaces the first "," by "."; any further commas stay.
std::string NormaliseDecimal(const std::string& text);

// Converts a (normalised) map coordinate: optional blanks, optional sign,
// digits, optional "." and digits, optional exponent, optional blanks. A text
// of blanks only, or "." alone, gives 0. Anything else raises EConvertError
// "'TEXT' is not a valid floating point value".
double ParseCoordinate(const std::string& text);
// The same conversion without raising; false for a malformed text.
bool TryParseCoordinate(const std::string& text, double& value);
// A map coordinate as typed into a box or given on the command line:
// NormaliseDecimal, then ParseCoordinate; the error names the text as typed.
double ReadMapCoordinate(const std::string& text);

// The platform's string-to-floating conversion as used for the pixel labels:
// surrounding blanks allowed, decimalSeparator as the decimal point, at least
// one digit. Raises EConvertError "'TEXT' is not a valid floating point value".
double StrToFloat(const std::string& text, char decimalSeparator);

// General floating format with up to 15 significant digits, as a number is
// shown in an edit box (decimalSeparator from the user's locale).
std::string FloatToStr(double value, char decimalSeparator);

// The shortest text that reads back as exactly value, "." as the decimal
// point, as files other than the world file hold numbers.
std::string ShortestText(double value);

// One record of a point file: point number, Y, X.
struct TPointRecord {
    int Number = 0;
    double Y = 0;
    double X = 0;
};

// Reads a point file record by record. Items are separated by characters
// with codes 0..32; after the third item of a record the rest of its line is
// skipped. A number read where the file has ended is 0. Errors are
// EInOutError: the open error's text ("File not found", ...) or
// "Invalid numeric input".
class TPointFileReader {
public:
    explicit TPointFileReader(const std::string& fileName);
    ~TPointFileReader();
    TPointFileReader(const TPointFileReader&) = delete;
    TPointFileReader& operator=(const TPointFileReader&) = delete;

    TPointRecord ReadRecord();

private:
    std::string NextToken();
    int ReadInteger();
    double ReadReal();
    void SkipLine();
    int Get();

    std::FILE* FFile = nullptr;
};

// Load file: the point file's two records as the texts of the four boxes,
// FloatToStr with decimalSeparator. setBox(0..3, text) fills Y1, X1, Y2, X2
// in that order, record by record, so a failure in record 2 leaves the boxes
// of record 1 filled and the others as they were.
void ReadPointFile(const std::string& fileName, char decimalSeparator,
                   const std::function<void(int box, const std::string& text)>& setBox);

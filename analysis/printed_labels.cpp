#include "analysis/printed_labels.h"

#include "analysis/frame_grey.h"

#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <optional>

namespace {

// A digit read with less confidence than this (Tesseract's 0..100) leaves
// its label unread.
constexpr double LeastConfidence = 70;
constexpr double LeastLetterConfidence = 60;
// Words are read scaled to this height of their tallest glyph, pixels.
constexpr double ReadHeight = 40;
constexpr double SmallReadHeight = 28;
constexpr double LargeReadHeight = 52;
// Glyphs lower than this are not read at all, pixels.
constexpr int LeastGlyphHeight = 8;
// The window looked at beside a corner: this share of the frame's mean side.
constexpr double WindowShare = 0.09;
constexpr double LeastWindow = 150;
// The frame's width over its height may differ this much from the shape
// the printed spans draw at the sheet's latitude.
constexpr double MostAspectMismatch = 0.12;

// Spans of graticule sheets in series, minutes.
constexpr double SeriesSpans[] = {3.75, 5, 7.5, 10, 15, 20, 30, 40, 45, 60, 90, 120, 180, 240, 360};

const char* const CornerWords[4] = {"upper left", "upper right", "lower right", "lower left"};

struct TBox {
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
    double Height() const { return Bottom - Top; }
    double Width() const { return Right - Left; }
    void Add(const TBox& o)
    {
        Left = std::min(Left, o.Left);
        Top = std::min(Top, o.Top);
        Right = std::max(Right, o.Right);
        Bottom = std::max(Bottom, o.Bottom);
    }
};

// ---- OCR ----

class TReader {
public:
    TReader()
    {
        // One thread: the library's own threads only wait on a busy machine.
        setenv("OMP_THREAD_LIMIT", "1", 0);
        FApi.SetVariable("debug_file", "/dev/null");
        FReady = FApi.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
        if (FReady) {
            FApi.SetPageSegMode(tesseract::PSM_SINGLE_LINE);
            FApi.SetVariable("tessedit_char_whitelist", "0123456789NSEW");
        }
    }
    bool Ready() const { return FReady; }

    struct TSymbol {
        std::string Text;
        double Confidence = 0;
        double Left = 0, Right = 0; // in the image read
    };
    // The symbols on a grey image (black on white).
    std::vector<TSymbol> Read(const cv::Mat& grey, tesseract::PageSegMode mode)
    {
        std::vector<TSymbol> symbols;
        FApi.SetPageSegMode(mode);
        FApi.SetImage(grey.data, grey.cols, grey.rows, 1, int(grey.step));
        FApi.SetSourceResolution(300);
        if (FApi.Recognize(nullptr) != 0)
            return symbols;
        std::unique_ptr<tesseract::ResultIterator> it(FApi.GetIterator());
        if (!it)
            return symbols;
        do {
            const std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_SYMBOL));
            if (!text)
                continue;
            int l = 0, t = 0, r = 0, b = 0;
            it->BoundingBox(tesseract::RIL_SYMBOL, &l, &t, &r, &b);
            symbols.push_back({text.get(), it->Confidence(tesseract::RIL_SYMBOL), double(l), double(r)});
        } while (it->Next(tesseract::RIL_SYMBOL));
        FApi.Clear();
        return symbols;
    }

private:
    tesseract::TessBaseAPI FApi;
    bool FReady = false;
};

TReader& Reader()
{
    thread_local TReader reader;
    return reader;
}

struct TComponent {
    TBox Box;
    int Label = 0;
    bool Mark = false;
};

int FindRoot(std::vector<int>& parent, int i)
{
    while (parent[size_t(i)] != i)
        i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
    return i;
}

// Whether two components belong to one word: glyphs of one line side by
// side, or a small sign at a glyph's top.
bool SameWord(const TComponent& a, const TComponent& b)
{
    const TComponent& big = a.Box.Height() >= b.Box.Height() ? a : b;
    const TComponent& small = &big == &a ? b : a;
    const double h = big.Box.Height();
    const double gap = std::max(small.Box.Left - big.Box.Right, big.Box.Left - small.Box.Right);
    if (small.Box.Height() >= 0.6 * h) { // two glyphs
        // Digits stand up to a third of their height apart (serif 1s, more
        // when blurred and thresholded thin), words a half or more.
        if (gap > 0.45 * h)
            return false;
        const double overlap = std::min(a.Box.Bottom, b.Box.Bottom) - std::max(a.Box.Top, b.Box.Top);
        return overlap >= 0.5 * small.Box.Height();
    }
    // A sign: beside or over the glyph's upper half, and no wider than
    // signs are (a lower glyph beside a turned label's is none).
    return gap <= 0.5 * h && small.Box.Width() <= 0.7 * h && small.Box.Bottom <= big.Box.Top + 0.5 * h && small.Box.Top >= big.Box.Top - 0.7 * h;
}

// What a small sign at a word's top is: '°' a ring, 'o' a round blot (a
// ring whose hole filled in, or a blurred stroke), '\'' a stroke, '?'
// neither.
char SignOf(const cv::Mat& labels, const TComponent& c, int left, int top)
{
    const cv::Rect r(int(c.Box.Left) - left, int(c.Box.Top) - top, int(c.Box.Width()), int(c.Box.Height()));
    cv::Mat mask(r.height + 2, r.width + 2, CV_8U, cv::Scalar(0));
    std::vector<cv::Point> points;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
            if (labels.at<int>(r.y + y, r.x + x) == c.Label) {
                mask.at<uint8_t>(y + 1, x + 1) = 255;
                points.emplace_back(x, y);
            }
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(mask, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE);
    for (const cv::Vec4i& h : hierarchy)
        if (h[3] >= 0)
            return '\xB0'; // a hole: a ring
    if (points.size() < 3)
        return '?';
    const cv::RotatedRect rect = cv::minAreaRect(points);
    const double longer = std::max(rect.size.width, rect.size.height) + 1;
    const double shorter = std::min(rect.size.width, rect.size.height) + 1;
    if (longer >= 1.8 * shorter)
        return '\'';
    if (longer < 1.4 * shorter && r.height >= 5) // an open ring or a filled one
        return 'o';
    return '?';
}

} // namespace

bool ParseHemisphere(const std::string& text, THemisphere& hemisphere)
{
    THemisphere h;
    for (const char c : text) {
        const char u = char(std::toupper(static_cast<unsigned char>(c)));
        if (u != 'N' && u != 'S' && u != 'E' && u != 'W')
            return false;
        char& slot = (u == 'N' || u == 'S') ? h.Latitude : h.Longitude;
        if (slot != 0)
            return false;
        slot = u;
    }
    if (text.empty())
        return false;
    hemisphere = h;
    return true;
}

namespace {

// The words of a grey window (black on white) whose top-left pixel is
// (left, top) of the picture; face is the map face in the window's pixels.
// Turned text is read on the window turned upright, and then only words
// with a sign are read; grid values are plain numbers, and words with a sign
// are left out.
enum class TWords { Angles, SignedAngles, Numbers };
std::vector<TLabelWord> ReadWordsIn(const cv::Mat& grey, const std::vector<cv::Point>& face, int left, int top,
                                    TWords kind);

} // namespace

namespace {

// The words of a window of the picture: angles (upright or turned a quarter
// either way) in the black of the labels, or grid values, in any ink.
std::vector<TLabelWord> ReadWindow(const TBitmap& bitmap, const std::array<TFrameCorner, 4>& corners, int left,
                                   int top, int right, int bottom, int quarterTurns, bool numbers)
{
    std::vector<TLabelWord> words;
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, bitmap.Width());
    bottom = std::min(bottom, bitmap.Height());
    if (right - left < 16 || bottom - top < 16)
        return words;
    const int w = right - left, h = bottom - top;
    cv::Mat grey(h, w, CV_8U);
    // Corner labels are printed in black: a pixel's lightest channel, so
    // that red grid values and blue water fade. Grid values may be printed
    // in the grid's colour: its darkest channel.
    const TGreyReader reader(bitmap);
    const TBitmapFormat format = bitmap.PixelFormat();
    for (int y = 0; y < h; ++y) {
        uint8_t* out = grey.ptr<uint8_t>(y);
        if (format == bf24Bit || format == bf32Bit) {
            const int step = format == bf24Bit ? 3 : 4;
            const uint8_t* p = bitmap.ScanLine(top + y) + int64_t(step) * left;
            for (int x = 0; x < w; ++x, p += step)
                out[x] = numbers ? std::min({p[0], p[1], p[2]}) : std::max({p[0], p[1], p[2]});
        } else {
            reader.Row(top + y, left, w, out);
        }
    }

    // The map face, grown a little past the neatline, is left out.
    double cx = 0, cy = 0;
    for (const TFrameCorner& c : corners) {
        cx += c.Col / 4;
        cy += c.Row / 4;
    }
    std::vector<cv::Point> face;
    for (const TFrameCorner& c : corners) {
        const double dx = c.Col - cx, dy = c.Row - cy, d = std::hypot(dx, dy);
        const double grow = d > 0 ? 4 / d : 0;
        face.emplace_back(int(std::lround(c.Col + dx * grow - left)), int(std::lround(c.Row + dy * grow - top)));
    }

    if (quarterTurns == 0)
        return ReadWordsIn(grey, face, left, top, numbers ? TWords::Numbers : TWords::Angles);
    // Text reading upward is turned upright clockwise, text reading downward
    // anticlockwise; the words' boxes are turned back.
    const bool up = quarterTurns > 0;
    cv::Mat upright;
    cv::rotate(grey, upright, up ? cv::ROTATE_90_CLOCKWISE : cv::ROTATE_90_COUNTERCLOCKWISE);
    for (cv::Point& p : face)
        p = up ? cv::Point(h - p.y, p.x) : cv::Point(p.y, w - p.x);
    words = ReadWordsIn(upright, face, 0, 0, TWords::SignedAngles);
    for (TLabelWord& word : words) {
        const TLabelWord u = word;
        if (up) {
            word.Left = left + u.Top;
            word.Right = left + u.Bottom;
            word.Top = top + h - u.Right;
            word.Bottom = top + h - u.Left;
        } else {
            word.Left = left + w - u.Bottom;
            word.Right = left + w - u.Top;
            word.Top = top + u.Left;
            word.Bottom = top + u.Right;
        }
        word.Turns = up ? 1 : -1;
    }
    return words;
}

} // namespace

std::vector<TLabelWord> ReadLabelWords(const TBitmap& bitmap, const std::array<TFrameCorner, 4>& corners, int left,
                                       int top, int right, int bottom, int quarterTurns)
{
    return ReadWindow(bitmap, corners, left, top, right, bottom, quarterTurns, false);
}

namespace {

std::vector<TLabelWord> ReadWordsIn(const cv::Mat& grey, const std::vector<cv::Point>& face, int left, int top,
                                    TWords kind)
{
    std::vector<TLabelWord> words;
    const int w = grey.cols, h = grey.rows;
    // A scan's grey is read first as it is, the OCR thresholding the scaled
    // glyphs itself: it reads bold serif digits (5, 6, 7) that our own
    // threshold leaves looking like others. A picture of few grey levels is
    // thresholded first: read in grey, its glyphs lose digits.
    std::array<bool, 256> levels{};
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = grey.ptr<uint8_t>(y);
        for (int x = 0; x < w; ++x)
            levels[row[x]] = true;
    }
    const bool greyFirst = std::count(levels.begin(), levels.end(), true) > 32;
    cv::Mat ink;
    cv::threshold(grey, ink, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    cv::fillConvexPoly(ink, face, cv::Scalar(0));
    // Long rules (the frame's continued sides, the outer frame) are taken out.
    const int rule = std::max(61, std::min(w, h) / 8);
    cv::Mat rulesH, rulesV;
    cv::morphologyEx(ink, rulesH, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, {rule, 1}));
    cv::morphologyEx(ink, rulesV, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, {1, rule}));
    cv::Mat rules = rulesH | rulesV;
    cv::dilate(rules, rules, cv::getStructuringElement(cv::MORPH_RECT, {3, 3}));
    ink.setTo(0, rules);

    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    std::vector<TComponent> parts;
    const int largest = std::min(w, h) / 4;
    for (int i = 1; i < count; ++i) {
        const int bw = stats.at<int>(i, cv::CC_STAT_WIDTH), bh = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        // Specks, blots, and what is left of a rule (a thin bar).
        if (stats.at<int>(i, cv::CC_STAT_AREA) < 4 || bw > largest || bh > largest || bw * 6 < bh || bh * 6 < bw)
            continue;
        const int bx = stats.at<int>(i, cv::CC_STAT_LEFT), by = stats.at<int>(i, cv::CC_STAT_TOP);
        const double x = bx + left, y = by + top;
        // Marked where the window's edge cuts it: what is left of a glyph
        // may pass for another (a 6 cut at its left reads 9).
        const bool cut = bx == 0 || by == 0 || bx + bw == w || by + bh == h;
        parts.push_back({{x, y, x + bw, y + bh}, i, cut});
    }
    // A piece with a glyph of its own size beside it is a glyph of a line:
    // half as tall as a piece of turned lettering (two turned digits that
    // touch), it is no sign of that piece.
    std::vector<bool> glyphOfLine(parts.size(), false);
    for (size_t i = 0; i < parts.size(); ++i)
        for (size_t j = 0; j < parts.size() && !glyphOfLine[i]; ++j) {
            const double hi = parts[i].Box.Height(), hj = parts[j].Box.Height();
            glyphOfLine[i] = j != i && std::min(hi, hj) >= 0.6 * std::max(hi, hj) && SameWord(parts[i], parts[j]);
        }
    std::vector<int> parent(parts.size());
    std::iota(parent.begin(), parent.end(), 0);
    for (size_t i = 0; i < parts.size(); ++i)
        for (size_t j = i + 1; j < parts.size(); ++j) {
            const size_t lower = parts[i].Box.Height() < parts[j].Box.Height() ? i : j;
            const size_t higher = lower == i ? j : i;
            if (glyphOfLine[lower] && parts[lower].Box.Height() < 0.6 * parts[higher].Box.Height() &&
                parts[lower].Box.Height() >= 0.45 * parts[higher].Box.Height())
                continue;
            if (SameWord(parts[i], parts[j]))
                parent[size_t(FindRoot(parent, int(i)))] = FindRoot(parent, int(j));
        }
    std::vector<std::vector<size_t>> groups(parts.size());
    for (size_t i = 0; i < parts.size(); ++i)
        groups[size_t(FindRoot(parent, int(i)))].push_back(i);

    TReader& ocr = Reader();
    if (!ocr.Ready())
        return words;
    struct TPiece {
        double Centre;
        std::string Text;
    };
    for (const std::vector<size_t>& group : groups) {
        if (group.empty())
            continue;
        double tall = 0;
        TBox box{1e9, 1e9, -1e9, -1e9};
        for (const size_t i : group) {
            tall = std::max(tall, parts[i].Box.Height());
            box.Add(parts[i].Box);
        }
        if (tall < LeastGlyphHeight)
            continue;
        // A word the edge cuts is not read, only told where it stands.
        if (std::any_of(group.begin(), group.end(), [&](size_t i) { return parts[i].Mark; })) {
            TLabelWord cut{box.Left, box.Top, box.Right, box.Bottom, "", 0};
            cut.Cut = true;
            words.push_back(cut);
            continue;
        }
        // Glyphs, signs at the top, and specks left out.
        TBox glyphs{1e9, 1e9, -1e9, -1e9};
        std::vector<const TComponent*> glyphParts, signs;
        for (const size_t i : group) {
            const TComponent& c = parts[i];
            if (c.Box.Height() >= 0.6 * tall) {
                glyphParts.push_back(&c);
                glyphs.Add(c.Box);
            }
        }
        // A glyph of the same line standing a little beyond the word's ends
        // (closer than words stand) may be a digit of it split off: what is
        // left ("1°" of "11°", "0'" of "30'") is no label.
        const bool split = std::any_of(parts.begin(), parts.end(), [&](const TComponent& c) {
            const double gap = std::max(glyphs.Left - c.Box.Right, c.Box.Left - glyphs.Right);
            return gap >= 0 && gap < 0.7 * tall && std::fabs(c.Box.Top - glyphs.Top) < 0.15 * tall &&
                   std::fabs(c.Box.Bottom - glyphs.Bottom) < 0.15 * tall &&
                   std::find(group.begin(), group.end(), size_t(&c - parts.data())) == group.end();
        });
        if (split && kind != TWords::Numbers)
            continue;
        for (const size_t i : group) {
            const TComponent& c = parts[i];
            if (c.Box.Height() < 0.6 * tall && c.Box.Height() >= 0.17 * tall &&
                c.Box.Bottom <= glyphs.Top + 0.5 * tall)
                signs.push_back(&c);
        }
        // The glyphs alone, in grey, padded and scaled to the reading height;
        // read as a line, or one by one when the line lost a glyph.
        auto readGlyphs = [&](const std::vector<const TComponent*>& set, std::vector<TPiece>& pieces,
                              double& confidence) {
            TBox area{1e9, 1e9, -1e9, -1e9};
            for (const TComponent* c : set)
                area.Add(c->Box);
            const int pad = int(std::ceil(0.6 * tall));
            const int gx = int(area.Left) - left, gy = int(area.Top) - top;
            const int gw = int(area.Width()), gh = int(area.Height());
            cv::Mat word(gh + 2 * pad, gw + 2 * pad, CV_8U, cv::Scalar(255));
            cv::Mat keep(h, w, CV_8U, cv::Scalar(0));
            for (const TComponent* c : set) {
                const cv::Rect r(int(c->Box.Left) - left, int(c->Box.Top) - top, int(c->Box.Width()),
                                 int(c->Box.Height()));
                keep(r).setTo(255, labels(r) == c->Label);
            }
            cv::dilate(keep, keep, cv::getStructuringElement(cv::MORPH_RECT, {3, 3}));
            const cv::Rect wide = (cv::Rect(gx - 1, gy - 1, gw + 2, gh + 2)) & cv::Rect(0, 0, w, h);
            grey(wide).copyTo(word(wide - cv::Point(gx - pad, gy - pad)), keep(wide));
            // A glyph alone is read thrice side by side, and then alone as a
            // line or a character: the line reader takes a lone digit for
            // nothing far more often than it misreads one of three alike.
            const bool alone = set.size() == 1;
            cv::Mat strip;
            const int space = std::max(2, int(0.3 * tall));
            if (alone) {
                strip.create(word.rows, 2 * pad + 3 * gw + 2 * space, CV_8U);
                strip.setTo(255);
                for (int k = 0; k < 3; ++k)
                    word(cv::Rect(pad, 0, gw, word.rows))
                        .copyTo(strip(cv::Rect(pad + k * (gw + space), 0, gw, word.rows)));
            }
            bool binary = false;
            auto readAt = [&](double height, double& scale) {
                scale = height / tall;
                // Thresholded here, and when the sizes disagree in grey:
                // the OCR's own threshold on the scaled glyphs reads many
                // bold serif digits the first leaves in doubt.
                auto prepared = [&](const cv::Mat& image) {
                    cv::Mat scaled;
                    cv::resize(image, scaled, cv::Size(), scale, scale, scale < 1 ? cv::INTER_AREA : cv::INTER_CUBIC);
                    if (binary)
                        cv::threshold(scaled, scaled, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
                    return scaled;
                };
                if (!alone)
                    return ocr.Read(prepared(word), tesseract::PSM_SINGLE_LINE);
                // The line reader finds no line in some bold letters; read
                // as a raw line they are found.
                const cv::Mat stripScaled = prepared(strip);
                for (const tesseract::PageSegMode mode : {tesseract::PSM_SINGLE_LINE, tesseract::PSM_RAW_LINE}) {
                    // Each copy's symbols by where they stand; the three
                    // copies must read alike (two digits that touch are
                    // one glyph read as two).
                    const std::vector<TReader::TSymbol> three = ocr.Read(stripScaled, mode);
                    std::array<std::vector<TReader::TSymbol>, 3> copies;
                    std::array<std::string, 3> texts;
                    for (const TReader::TSymbol& sym : three) {
                        const double centre = (sym.Left + sym.Right) / 2 / scale - pad + 0.5 * space;
                        const int k = std::clamp(int(std::floor(centre / (gw + space))), 0, 2);
                        copies[size_t(k)].push_back(sym);
                        texts[size_t(k)] += sym.Text;
                    }
                    // The reader trusts a letter less each time it repeats:
                    // the best of the three copies' confidences is kept.
                    if (!texts[0].empty() && texts[1] == texts[0] && texts[2] == texts[0] &&
                        copies[1].size() == copies[0].size() && copies[2].size() == copies[0].size()) {
                        for (size_t i = 0; i < copies[0].size(); ++i) {
                            std::array<double, 3> c = {copies[0][i].Confidence, copies[1][i].Confidence,
                                                       copies[2][i].Confidence};
                            std::sort(c.begin(), c.end());
                            copies[0][i].Confidence = c[2];
                        }
                        return copies[0];
                    }
                }
                const cv::Mat single = prepared(word);
                std::vector<TReader::TSymbol> symbols = ocr.Read(single, tesseract::PSM_SINGLE_LINE);
                return symbols.empty() ? ocr.Read(single, tesseract::PSM_SINGLE_CHAR) : symbols;
            };
            // Read at three sizes; two readings must agree, and the one at
            // the middle size gives the places.
            auto text = [](const std::vector<TReader::TSymbol>& symbols) {
                std::string t;
                for (const TReader::TSymbol& sym : symbols)
                    t += sym.Text;
                return t;
            };
            double scale = 1, smallScale = 1, largeScale = 1;
            std::vector<TReader::TSymbol> symbols;
            bool agreed = false;
            for (const bool grey : {greyFirst, !greyFirst}) {
                binary = !grey;
                symbols = readAt(ReadHeight, scale);
                const std::vector<TReader::TSymbol> smaller = readAt(SmallReadHeight, smallScale);
                if (text(smaller) == text(symbols)) {
                    agreed = true;
                    break;
                }
                const std::vector<TReader::TSymbol> larger = readAt(LargeReadHeight, largeScale);
                if (text(larger) == text(symbols)) {
                    agreed = true;
                    break;
                }
                if (text(larger) == text(smaller) && !larger.empty()) {
                    symbols = larger;
                    scale = largeScale;
                    agreed = true;
                    break;
                }
            }
            if (!agreed)
                return false;
            // A reading in doubt that the other threshold reads alike, at
            // the middle size, is as sure as the surer of the two.
            auto least = [](const std::vector<TReader::TSymbol>& symbols) {
                double c = 100;
                for (const TReader::TSymbol& sym : symbols)
                    c = std::min(c, double(sym.Confidence));
                return c;
            };
            if (least(symbols) < LeastConfidence) {
                binary = !binary;
                double otherScale = 1;
                const std::vector<TReader::TSymbol> other = readAt(ReadHeight, otherScale);
                if (text(other) == text(symbols) && other.size() == symbols.size()) {
                    for (size_t i = 0; i < symbols.size(); ++i)
                        symbols[i].Confidence = std::max(symbols[i].Confidence, other[i].Confidence);
                    // The reader trusts bold hemisphere letters less than
                    // digits; a lone letter read alike both ways is sure
                    // enough from LeastLetterConfidence (each side's letters
                    // are checked against each other).
                    if (symbols.size() == 1 && std::isalpha(static_cast<unsigned char>(symbols[0].Text[0])) &&
                        symbols[0].Confidence >= LeastLetterConfidence)
                        symbols[0].Confidence = std::max(symbols[0].Confidence, LeastConfidence);
                }
            }
            std::vector<TPiece> found;
            for (const TReader::TSymbol& sym : symbols) {
                const double l = area.Left - pad + sym.Left / scale, r = area.Left - pad + sym.Right / scale;
                found.push_back({(l + r) / 2, sym.Text});
                confidence = std::min(confidence, double(sym.Confidence));
            }
            // Every glyph must have given a symbol of its own (one symbol
            // between two glyphs, "1" for two 1s side by side, counts for
            // the nearer only), and digits that touch (a piece wider than
            // any one digit) as many as they hold.
            std::vector<std::string> inside(set.size());
            for (const TPiece& piece : found) {
                size_t nearest = set.size();
                double best = 1.5;
                for (size_t k = 0; k < set.size(); ++k) {
                    const TBox& b = set[k]->Box;
                    const double off = std::max({b.Left - piece.Centre, piece.Centre - b.Right, 0.0}) +
                                       1e-3 * std::fabs(piece.Centre - (b.Left + b.Right) / 2);
                    if (off < best) {
                        best = off;
                        nearest = k;
                    }
                }
                if (nearest < set.size())
                    inside[nearest] += piece.Text;
            }
            for (size_t k = 0; k < set.size(); ++k) {
                const TComponent* c = set[k];
                if (inside[k].empty() ||
                    (inside[k].size() == 1 && std::isdigit(static_cast<unsigned char>(inside[k][0])) &&
                     c->Box.Width() > 1.1 * c->Box.Height()))
                    return false;
            }
            pieces.insert(pieces.end(), found.begin(), found.end());
            return !found.empty();
        };
        // A label has a sign; only a bare number of minutes (its sign taken
        // by a rule) or a hemisphere letter stands without one. Other words
        // (names, figures of the margin) are not read at all. A grid value
        // is a plain number.
        if (kind == TWords::Numbers ? !signs.empty()
                                    : signs.empty() && (kind == TWords::SignedAngles || glyphParts.size() > 2))
            continue;
        // A glyph that a rule ran through is not read: what is left of it
        // may pass for another digit.
        bool damaged = false;
        for (const TComponent* c : glyphParts) {
            const cv::Rect r = cv::Rect(int(c->Box.Left) - left - 2, int(c->Box.Top) - top - 2,
                                        int(c->Box.Width()) + 4, int(c->Box.Height()) + 4) &
                               cv::Rect(0, 0, w, h);
            damaged = damaged || cv::countNonZero(rules(r)) > 0;
        }
        if (damaged)
            continue;
        // The runs of glyphs between the signs are read apart, as plain
        // numbers (and letters); a run that loses a glyph is read glyph by
        // glyph.
        std::vector<const TComponent*> ordered = glyphParts;
        std::sort(ordered.begin(), ordered.end(),
                  [](const TComponent* a, const TComponent* b) { return a->Box.Left < b->Box.Left; });
        std::vector<std::vector<const TComponent*>> runs(1);
        for (const TComponent* c : ordered) {
            const bool signBefore =
                !runs.back().empty() && std::any_of(signs.begin(), signs.end(), [&](const TComponent* s) {
                    const double centre = (s->Box.Left + s->Box.Right) / 2;
                    return centre > (runs.back().back()->Box.Left + runs.back().back()->Box.Right) / 2 &&
                           centre < (c->Box.Left + c->Box.Right) / 2;
                });
            // A letter stands apart from the number before it.
            const bool spaced = !runs.back().empty() && c->Box.Left - runs.back().back()->Box.Right > 0.25 * tall;
            if (signBefore || spaced)
                runs.emplace_back();
            runs.back().push_back(c);
        }
        std::vector<TPiece> pieces;
        double confidence = 100;
        bool all = true;
        for (const std::vector<const TComponent*>& run : runs) {
            std::vector<TPiece> got;
            double runConfidence = 100;
            if (!readGlyphs(run, got, runConfidence)) {
                got.clear();
                runConfidence = 100;
                for (const TComponent* c : run)
                    all = all && readGlyphs({c}, got, runConfidence);
            }
            pieces.insert(pieces.end(), got.begin(), got.end());
            confidence = std::min(confidence, runConfidence);
        }
        if (!all || pieces.empty())
            continue;
        for (const TComponent* s : signs) {
            const char sign = SignOf(labels, *s, left, top);
            // A light serif or a stroke's end broken off a glyph stands
            // over or against it: a piece of the glyph, no sign.
            if (sign == '?' && std::any_of(glyphParts.begin(), glyphParts.end(), [&](const TComponent* g) {
                    return s->Box.Right >= g->Box.Left - 1 && s->Box.Left <= g->Box.Right + 1;
                }))
                continue;
            // A piece of a sign that a rule cut is left out.
            if (sign == '?' && std::any_of(signs.begin(), signs.end(), [&](const TComponent* o) {
                    return o != s && SignOf(labels, *o, left, top) != '?' &&
                           std::max(o->Box.Left - s->Box.Right, s->Box.Left - o->Box.Right) < 0.3 * tall &&
                           std::max(o->Box.Top - s->Box.Bottom, s->Box.Top - o->Box.Bottom) < 0.3 * tall;
                }))
                continue;
            pieces.push_back({(s->Box.Left + s->Box.Right) / 2, std::string(1, sign)});
        }
        std::sort(pieces.begin(), pieces.end(), [](const TPiece& a, const TPiece& b) { return a.Centre < b.Centre; });
        // A round blot is a degree sign, unless degrees and a number came
        // before it: a label prints one degree sign, and the sign after its
        // minutes is theirs (a stroke blurred round, or unknown).
        bool degrees = false, digits = false;
        for (TPiece& piece : pieces) {
            const char c = piece.Text.size() == 1 ? piece.Text[0] : 0;
            if (std::isdigit(static_cast<unsigned char>(c))) {
                digits = true;
                continue;
            }
            if (c == 'o' || c == '?')
                piece.Text = degrees && digits ? "'" : c == 'o' ? "\xB0" : "?";
            else if (c != '\xB0' && c != '\'')
                continue;
            if (piece.Text == "\xB0") {
                degrees = true;
                piece.Text = "\xC2\xB0";
            }
            digits = false;
        }
        TLabelWord out{box.Left, box.Top, box.Right, box.Bottom, "", confidence};
        for (size_t i = 0; i < pieces.size(); ++i) {
            // Two strokes side by side are seconds.
            if (pieces[i].Text == "'" && !out.Text.empty() && out.Text.back() == '\'')
                out.Text.back() = '"';
            else
                out.Text += pieces[i].Text;
        }
        // A hemisphere letter follows its number: a letter before the
        // digits is a piece of other lettering (a turned name's last letter
        // beside the degrees) or a digit misread, and the word is no label.
        const size_t firstLetter = out.Text.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        if (kind != TWords::Numbers && firstLetter != std::string::npos &&
            out.Text.find_first_of("0123456789", firstLetter) != std::string::npos)
            continue;
        words.push_back(out);
    }
    return words;
}

// A label's text parsed: degrees, minutes and seconds, each optional.
struct TParsed {
    bool Valid = false;
    int Degrees = -1, Minutes = -1;
    double Seconds = -1;
    char Letter = 0;
};

bool HasLetter(const std::string& text)
{
    return text.find_first_of("NSEW") != std::string::npos;
}

TParsed ParseLabel(const std::string& text)
{
    TParsed p;
    size_t i = 0;
    int stage = 0; // 1 after degrees, 2 after minutes, 3 after seconds
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ') {
            ++i;
            continue;
        }
        if (c == 'N' || c == 'S' || c == 'E' || c == 'W') {
            if (p.Letter != 0)
                return {};
            p.Letter = c;
            ++i;
            continue;
        }
        if (p.Letter != 0 && stage > 0)
            return {}; // a letter between the numbers
        size_t j = i;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
            ++j;
        if (j == i || j - i > 3)
            return {};
        const int value = std::stoi(text.substr(i, j - i));
        if (text.compare(j, 2, "\xC2\xB0") == 0) {
            if (stage >= 1)
                return {};
            p.Degrees = value;
            stage = 1;
            i = j + 2;
        } else if (j < text.size() && text[j] == '\'') {
            if (stage >= 2 || value >= 60 || j - i > 2)
                return {};
            p.Minutes = value;
            stage = 2;
            i = j + 1;
        } else if (j < text.size() && text[j] == '"') {
            if (stage >= 3 || value >= 60 || j - i > 2)
                return {};
            p.Seconds = value;
            stage = 3;
            i = j + 1;
        } else {
            return {}; // a number with no sign, or a sign not known
        }
    }
    p.Valid = stage > 0;
    return p;
}

struct TLine {
    TBox Box;
    std::string Text;
    double Confidence = 100;
    TParsed Parsed;
    bool Used = false;
    int Turns = 0;
};

std::string AngleText(const TPrintedAngle& a)
{
    char text[64];
    if (a.Degrees >= 0 && a.Seconds > 0)
        std::snprintf(text, sizeof text, "%d\xC2\xB0%02d'%02.0f\"", a.Degrees, a.Minutes, a.Seconds);
    else if (a.Degrees >= 0 && a.Minutes < 0)
        std::snprintf(text, sizeof text, "%d\xC2\xB0", a.Degrees);
    else if (a.Degrees >= 0)
        std::snprintf(text, sizeof text, "%d\xC2\xB0%02d'", a.Degrees, a.Minutes);
    else
        std::snprintf(text, sizeof text, "%02d'", a.Minutes);
    std::string s = text;
    if (a.Letter)
        s += a.Letter;
    return s;
}

} // namespace

TCornerLabel AssembleCornerLabel(const std::vector<TLabelWord>& words, int corner, double col, double row)
{
    // Words side by side on one line make a line.
    std::vector<TLabelWord> sorted = words;
    std::sort(sorted.begin(), sorted.end(), [](const TLabelWord& a, const TLabelWord& b) { return a.Left < b.Left; });
    std::vector<TLine> lines;
    for (const TLabelWord& word : sorted) {
        if (word.Cut || word.Confidence < LeastConfidence)
            continue;
        const TBox box{word.Left, word.Top, word.Right, word.Bottom};
        // A hemisphere letter stands close to its number.
        const bool letter = !word.Text.empty() && std::isalpha(static_cast<unsigned char>(word.Text[0]));
        TLine* joined = nullptr;
        for (TLine& line : lines) {
            if (line.Turns != word.Turns || word.Turns != 0)
                continue;
            // Two hemisphere letters make no label: a letter of other
            // lettering beside a word with its own stays apart from it.
            if (HasLetter(line.Text) && HasLetter(word.Text))
                continue;
            const double hh = std::max(line.Box.Height(), box.Height());
            const double overlap = std::min(line.Box.Bottom, box.Bottom) - std::max(line.Box.Top, box.Top);
            const double gap = box.Left - line.Box.Right;
            const bool baseline = std::fabs(line.Box.Bottom - box.Bottom) < 0.3 * hh;
            if (baseline && overlap >= 0.5 * std::min(line.Box.Height(), box.Height()) && gap > -0.2 * hh && gap < (letter ? 0.8 : 1.2) * hh) {
                joined = &line;
                break;
            }
        }
        if (joined) {
            joined->Box.Add(box);
            joined->Text += " " + word.Text;
            joined->Confidence = std::min(joined->Confidence, word.Confidence);
        } else {
            lines.push_back({box, word.Text, word.Confidence, {}, false, word.Turns});
        }
    }
    for (TLine& line : lines) {
        line.Parsed = ParseLabel(line.Text);
    }

    struct TCandidate {
        TBox Box;
        TPrintedAngle Angle;
        bool Turned = false;
    };
    std::vector<TCandidate> candidates;
    auto add = [&](const TBox& box, const TParsed& p, double confidence, const std::string& text, bool turned) {
        TPrintedAngle a;
        a.Read = true;
        a.Degrees = p.Degrees;
        a.Minutes = p.Degrees >= 0 && p.Minutes < 0 ? -1 : std::max(p.Minutes, 0);
        a.Seconds = std::max(p.Seconds, 0.0);
        a.Letter = p.Letter;
        a.Confidence = confidence;
        a.Text = text;
        candidates.push_back({box, a, turned});
    };
    // Degrees over minutes across a rule make one label.
    for (TLine& upper : lines) {
        if (!upper.Parsed.Valid || upper.Parsed.Degrees < 0 || upper.Parsed.Minutes >= 0 || upper.Turns != 0)
            continue;
        for (TLine& lower : lines) {
            if (&lower == &upper || lower.Used || lower.Turns != 0)
                continue;
            // Below the degrees, a bare number of minutes whose sign the rule
            // took is minutes too.
            TParsed minutes = lower.Parsed;
            const bool bare = lower.Text.size() <= 2 && !lower.Text.empty() &&
                              std::all_of(lower.Text.begin(), lower.Text.end(),
                                          [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
            if (bare && std::stoi(lower.Text) < 60) {
                minutes = {};
                minutes.Valid = true;
                minutes.Minutes = std::stoi(lower.Text);
            }
            if (!minutes.Valid || minutes.Degrees >= 0 || minutes.Minutes < 0)
                continue;
            const double hh = std::max(upper.Box.Height(), lower.Box.Height());
            const double gap = lower.Box.Top - upper.Box.Bottom;
            const double shift = std::fabs((lower.Box.Left + lower.Box.Right) - (upper.Box.Left + upper.Box.Right)) / 2;
            if (gap < -0.1 * hh || gap > 1.5 * hh || shift > 2 * hh)
                continue;
            if (upper.Parsed.Letter && minutes.Letter)
                continue;
            TParsed both = minutes;
            both.Degrees = upper.Parsed.Degrees;
            both.Letter = upper.Parsed.Letter ? upper.Parsed.Letter : minutes.Letter;
            TBox box = upper.Box;
            box.Add(lower.Box);
            add(box, both, std::min(upper.Confidence, lower.Confidence), upper.Text + " / " + lower.Text, false);
            upper.Used = lower.Used = true;
            break;
        }
    }
    for (const TLine& line : lines)
        if (!line.Used && line.Parsed.Valid)
            add(line.Box, line.Parsed, line.Confidence, line.Text, line.Turns != 0);

    // Which coordinate each is, by where it lies: the longitude along the
    // meridian side (outside the frame above or below the corner), the
    // latitude along the parallel side.
    const bool upper = corner == fcUpperLeft || corner == fcUpperRight;
    const bool leftSide = corner == fcUpperLeft || corner == fcLowerLeft;
    std::vector<TPrintedAngle> lon, lat;
    for (const TCandidate& c : candidates) {
        const bool outY = upper ? c.Box.Bottom < row : c.Box.Top > row;
        const bool outX = leftSide ? c.Box.Right < col : c.Box.Left > col;
        const double dx = std::min(std::fabs(c.Box.Left - col), std::fabs(c.Box.Right - col));
        const double dy = std::min(std::fabs(c.Box.Top - row), std::fabs(c.Box.Bottom - row));
        bool isLon = outY && !outX, isLat = outX && !outY;
        if (outX && outY) {
            isLon = dx < 0.5 * dy;
            isLat = dy < 0.5 * dx;
        }
        // Only latitudes are printed turned (along the sides); a turned
        // reading above or below a corner is of upright lettering.
        if (isLon && !c.Turned && c.Angle.Degrees <= 180 && (c.Angle.Letter == 0 || c.Angle.Letter == 'E' || c.Angle.Letter == 'W'))
            lon.push_back(c.Angle);
        if (isLat && c.Angle.Degrees <= 90 && (c.Angle.Letter == 0 || c.Angle.Letter == 'N' || c.Angle.Letter == 'S'))
            lat.push_back(c.Angle);
    }
    // One value for each, whole labels before parts; two different values
    // leave it unread.
    auto choose = [](std::vector<TPrintedAngle> found) {
        TPrintedAngle none;
        auto isWhole = [](const TPrintedAngle& a) { return a.Degrees >= 0 && a.Minutes >= 0; };
        const bool whole = std::any_of(found.begin(), found.end(), isWhole);
        std::erase_if(found, [&](const TPrintedAngle& a) { return whole && !isWhole(a); });
        if (found.empty())
            return none;
        for (const TPrintedAngle& a : found)
            if (a.Degrees != found[0].Degrees || a.Minutes != found[0].Minutes || a.Seconds != found[0].Seconds ||
                a.Letter != found[0].Letter)
                return none;
        TPrintedAngle best = found[0];
        for (const TPrintedAngle& a : found)
            best.Confidence = std::min(best.Confidence, a.Confidence);
        if (best.Confidence < LeastConfidence)
            return none;
        best.Text = AngleText(best);
        return best;
    };
    return {choose(lon), choose(lat)};
}

void CheckGraticuleSheet(TPrintedCorners& sheet, const THemisphere& hemisphere, double frameAspect)
{
    sheet.Sheet = false;
    sheet.XKnown.fill(false);
    sheet.YKnown.fill(false);
    std::array<TPrintedAngle, 4> lon, lat;
    for (size_t i = 0; i < 4; ++i) {
        lon[i] = sheet.Labels[i].Longitude;
        lat[i] = sheet.Labels[i].Latitude;
    }
    std::vector<std::string> reasons;
    // Pairs sharing a value: the left and right sides' longitudes, the top
    // and bottom sides' latitudes.
    struct TPair {
        std::array<TPrintedAngle, 4>* Values;
        size_t A, B;
        const char* What;
    };
    const TPair pairs[4] = {{&lat, fcUpperLeft, fcUpperRight, "top corners' latitudes"},
                            {&lat, fcLowerLeft, fcLowerRight, "bottom corners' latitudes"},
                            {&lon, fcUpperLeft, fcLowerLeft, "left corners' longitudes"},
                            {&lon, fcUpperRight, fcLowerRight, "right corners' longitudes"}};
    std::array<std::optional<TPrintedAngle>, 4> agreed;
    for (size_t k = 0; k < 4; ++k) {
        TPrintedAngle& a = (*pairs[k].Values)[pairs[k].A];
        TPrintedAngle& b = (*pairs[k].Values)[pairs[k].B];
        const char* coordinate = pairs[k].Values == &lat ? "latitude" : "longitude";
        for (const size_t i : {pairs[k].A, pairs[k].B})
            if (!(*pairs[k].Values)[i].Read)
                reasons.push_back(std::string("the ") + CornerWords[i] + " corner's " + coordinate + " was not read");
        if (!a.Read || !b.Read)
            continue;
        // Degrees printed at one corner of the side only, or minutes not
        // read at one: the other corner's whole label gives them.
        for (int turn = 0; turn < 2; ++turn) {
            TPrintedAngle& part = turn == 0 ? a : b;
            const TPrintedAngle& whole = turn == 0 ? b : a;
            if (whole.Degrees < 0 || whole.Minutes < 0)
                continue;
            if (part.Degrees < 0 && part.Minutes == whole.Minutes && part.Seconds == whole.Seconds)
                part.Degrees = whole.Degrees;
            if (part.Minutes < 0 && part.Degrees == whole.Degrees) {
                part.Minutes = whole.Minutes;
                part.Seconds = whole.Seconds;
            }
        }
        if ((a.Degrees < 0 || a.Minutes < 0) && (b.Degrees < 0 || b.Minutes < 0)) {
            reasons.push_back(std::string("the ") + pairs[k].What + " were read in part only (" + AngleText(a) +
                              " and " + AngleText(b) + ")");
            continue;
        }
        if (a.Degrees < 0 || b.Degrees < 0 || a.Minutes < 0 || b.Minutes < 0 || a.Minutes != b.Minutes || std::fabs(a.Seconds - b.Seconds) > 0.05 ||
            a.Degrees != b.Degrees || (a.Letter && b.Letter && a.Letter != b.Letter)) {
            reasons.push_back(std::string("the ") + pairs[k].What + " differ (" + AngleText(a) + " and " +
                              AngleText(b) + ")");
            continue;
        }
        TPrintedAngle both = a;
        both.Letter = a.Letter ? a.Letter : b.Letter;
        agreed[k] = both;
    }
    // Hemispheres: the letters, the user's choice, else the order of the
    // values on a sheet lying north up.
    auto sign = [&](const std::optional<TPrintedAngle>& first, const std::optional<TPrintedAngle>& second,
                    char given, char positive, char negative, const char* what, std::array<int, 2>& signs) {
        for (size_t s = 0; s < 2; ++s) {
            const std::optional<TPrintedAngle>& v = s == 0 ? first : second;
            char letter = v ? v->Letter : 0;
            if (letter == 0)
                letter = given;
            if (letter == 0 && first && second && first->Value() != second->Value()) // order of the values
                letter = first->Value() > second->Value() ? positive : negative;
            if (letter == 0 && v && v->Value() == 0)
                letter = positive;
            signs[s] = letter == positive ? 1 : letter == negative ? -1 : 0;
        }
        if (given && ((first && first->Letter && first->Letter != given) ||
                      (second && second->Letter && second->Letter != given))) {
            reasons.push_back(std::string("the printed letters contradict the ") + what + " hemisphere given");
            signs = {0, 0};
        }
    };
    std::array<int, 2> latSigns{}, lonSigns{};
    sign(agreed[0], agreed[1], hemisphere.Latitude, 'N', 'S', "latitude", latSigns);
    sign(agreed[3], agreed[2], hemisphere.Longitude, 'E', 'W', "longitude", lonSigns);
    const double topLat = agreed[0] ? latSigns[0] * agreed[0]->Value() : 0;
    const double bottomLat = agreed[1] ? latSigns[1] * agreed[1]->Value() : 0;
    const double rightLon = agreed[3] ? lonSigns[0] * agreed[3]->Value() : 0;
    const double leftLon = agreed[2] ? lonSigns[1] * agreed[2]->Value() : 0;
    const bool latKnown = agreed[0] && agreed[1] && latSigns[0] && latSigns[1];
    const bool lonKnown = agreed[2] && agreed[3] && lonSigns[0] && lonSigns[1];
    auto plausible = [](double minutes) {
        return std::any_of(std::begin(SeriesSpans), std::end(SeriesSpans),
                           [&](double s) { return std::fabs(s - minutes) < 0.01; });
    };
    char text[160];
    const double latSpan = (topLat - bottomLat) * 60, lonSpan = (rightLon - leftLon) * 60;
    bool spansGood = latKnown && lonKnown;
    auto signed_ = [](double value) {
        TPrintedAngle a;
        const double minutes = std::round(std::fabs(value) * 60 * 100) / 100;
        a.Degrees = int(minutes / 60);
        a.Minutes = int(minutes - a.Degrees * 60);
        a.Seconds = (minutes - a.Degrees * 60 - a.Minutes) * 60;
        return AngleText(a);
    };
    if (latKnown && latSpan <= 0) {
        reasons.push_back("the top corners' latitude (" + signed_(topLat) + (topLat < 0 ? "S" : "N") +
                          ") is not north of the bottom corners' (" + signed_(bottomLat) + (bottomLat < 0 ? "S" : "N") +
                          ")");
        spansGood = false;
    } else if (latKnown && !plausible(latSpan)) {
        std::snprintf(text, sizeof text, "the latitudes span %.4g' from the bottom to the top, no sheet's span", latSpan);
        reasons.push_back(text);
        spansGood = false;
    }
    if (lonKnown && lonSpan <= 0) {
        reasons.push_back("the right corners' longitude (" + signed_(rightLon) + (rightLon < 0 ? "W" : "E") +
                          ") is not east of the left corners' (" + signed_(leftLon) + (leftLon < 0 ? "W" : "E") + ")");
        spansGood = false;
    } else if (lonKnown && !plausible(lonSpan)) {
        std::snprintf(text, sizeof text, "the longitudes span %.4g' from left to right, no sheet's span", lonSpan);
        reasons.push_back(text);
        spansGood = false;
    }
    if (spansGood && frameAspect > 0) {
        const double midLat = (topLat + bottomLat) / 2 * M_PI / 180;
        const double drawn = lonSpan * std::cos(midLat) / latSpan;
        if (std::fabs(frameAspect / drawn - 1) > MostAspectMismatch) {
            std::snprintf(text, sizeof text,
                          "a sheet of %.4g' by %.4g' is %.3g times as wide as high, the frame found %.3g times", lonSpan,
                          latSpan, drawn, frameAspect);
            reasons.push_back(text);
            spansGood = false;
        }
    }
    if (reasons.empty() && spansGood) {
        sheet.Sheet = true;
        for (size_t i = 0; i < 4; ++i) {
            sheet.XKnown[i] = sheet.YKnown[i] = true;
            sheet.X[i] = (i == fcUpperLeft || i == fcLowerLeft) ? leftLon : rightLon;
            sheet.Y[i] = (i == fcUpperLeft || i == fcUpperRight) ? topLat : bottomLat;
        }
        sheet.Refusal.clear();
        return;
    }
    // On a sheet refused, the sides whose corners agree and whose hemisphere
    // is known still show their values.
    const bool latSpanGood = !(latKnown && !(latSpan > 0 && plausible(latSpan)));
    const bool lonSpanGood = !(lonKnown && !(lonSpan > 0 && plausible(lonSpan)));
    for (size_t k = 0; k < 4; ++k) {
        const bool isLat = k < 2;
        const int sideSign = isLat ? latSigns[k] : lonSigns[k == 3 ? 0 : 1];
        if (!agreed[k] || sideSign == 0 || !(isLat ? latSpanGood : lonSpanGood))
            continue;
        for (const size_t i : {pairs[k].A, pairs[k].B}) {
            (isLat ? sheet.YKnown : sheet.XKnown)[i] = true;
            (isLat ? sheet.Y : sheet.X)[i] = sideSign * agreed[k]->Value();
        }
    }
    if (reasons.empty())
        reasons.push_back("the printed coordinates make no sheet");
    std::string refusal = "The corner labels make no sheet: " + reasons[0];
    for (size_t i = 1; i < reasons.size(); ++i)
        refusal += "; " + reasons[i];
    sheet.Refusal = refusal + ".";
}

double LabelReach(const std::array<TFrameCorner, 4>& corners)
{
    double sides = 0;
    for (size_t i = 0; i < 4; ++i)
        sides += std::hypot(corners[i].Col - corners[(i + 1) % 4].Col, corners[i].Row - corners[(i + 1) % 4].Row);
    return std::max(LeastWindow, WindowShare * sides / 4);
}

TPrintedCorners ReadPrintedCorners(const TBitmap& bitmap, const std::array<TFrameCorner, 4>& corners,
                                   const THemisphere& hemisphere)
{
    TPrintedCorners sheet;
    auto side = [&](int a, int b) {
        return std::hypot(corners[size_t(a)].Col - corners[size_t(b)].Col,
                          corners[size_t(a)].Row - corners[size_t(b)].Row);
    };
    const double width = (side(fcUpperLeft, fcUpperRight) + side(fcLowerLeft, fcLowerRight)) / 2;
    const double height = (side(fcUpperLeft, fcLowerLeft) + side(fcUpperRight, fcLowerRight)) / 2;
    if (!Reader().Ready()) {
        sheet.Refusal = "The corner labels cannot be read: the OCR library found no English data.";
        return sheet;
    }
    const double reach = LabelReach(corners);
    for (int i = 0; i < 4; ++i) {
        const TFrameCorner& c = corners[size_t(i)];
        int l = int(std::floor(c.Col - reach)), t = int(std::floor(c.Row - reach));
        int r = int(std::ceil(c.Col + reach)), b = int(std::ceil(c.Row + reach));
        std::vector<TLabelWord> words = ReadLabelWords(bitmap, corners, l, t, r, b);
        // Lettering the window's edge cuts (a large label standing far from
        // its corner): the window grown once over it, three of its heights
        // past each edge it crosses, within the picture.
        int grownL = l, grownT = t, grownR = r, grownB = b;
        for (const TLabelWord& word : words) {
            if (!word.Cut)
                continue;
            const int more = int(std::ceil(3 * (word.Bottom - word.Top)));
            if (word.Left <= std::max(l, 0))
                grownL = std::min(grownL, std::max(0, l - more));
            if (word.Top <= std::max(t, 0))
                grownT = std::min(grownT, std::max(0, t - more));
            if (word.Right >= std::min(r, bitmap.Width()))
                grownR = std::max(grownR, std::min(bitmap.Width(), r + more));
            if (word.Bottom >= std::min(b, bitmap.Height()))
                grownB = std::max(grownB, std::min(bitmap.Height(), b + more));
        }
        if (grownL != l || grownT != t || grownR != r || grownB != b) {
            l = grownL, t = grownT, r = grownR, b = grownB;
            words = ReadLabelWords(bitmap, corners, l, t, r, b);
        }
        TCornerLabel& label = sheet.Labels[size_t(i)];
        label = AssembleCornerLabel(words, i, c.Col, c.Row);
        // Labels along the sides may be turned, reading upward or downward.
        if (!label.Longitude.Read || !label.Latitude.Read) {
            for (const int turns : {1, -1}) {
                const std::vector<TLabelWord> turned = ReadLabelWords(bitmap, corners, l, t, r, b, turns);
                words.insert(words.end(), turned.begin(), turned.end());
            }
            label = AssembleCornerLabel(words, i, c.Col, c.Row);
        }
    }
    CheckGraticuleSheet(sheet, hemisphere, height > 0 ? width / height : 0);
    return sheet;
}

std::vector<TGridLabel> ReadGridLabels(const TBitmap& bitmap, const std::array<TFrameCorner, 4>& corners,
                                       double unit)
{
    std::vector<TGridLabel> labels;
    if (!Reader().Ready())
        return labels;
    const double reach = LabelReach(corners);
    double left = 1e18, top = 1e18, right = -1e18, bottom = -1e18;
    for (const TFrameCorner& c : corners) {
        left = std::min(left, c.Col);
        top = std::min(top, c.Row);
        right = std::max(right, c.Col);
        bottom = std::max(bottom, c.Row);
    }
    // A band beyond each side, between the corners' windows.
    const struct {
        TFrameSide Side;
        double L, T, R, B;
    } bands[] = {{fsTop, left, top - reach, right, top},
                 {fsRight, right, top, right + reach, bottom},
                 {fsBottom, left, bottom, right, bottom + reach},
                 {fsLeft, left - reach, top, left, bottom}};
    for (const auto& band : bands) {
        const std::vector<TLabelWord> words =
            ReadWindow(bitmap, corners, int(std::floor(band.L)), int(std::floor(band.T)), int(std::ceil(band.R)),
                       int(std::ceil(band.B)), 0, true);
        for (const TLabelWord& word : words) {
            // A digit alone is more often a piece of other lettering than a
            // value; grid values print two digits or more.
            if (word.Confidence < LeastConfidence || word.Text.size() < 2 || word.Text.size() > 9 ||
                !std::all_of(word.Text.begin(), word.Text.end(),
                             [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
                continue;
            const double col = (word.Left + word.Right) / 2, row = (word.Top + word.Bottom) / 2;
            // Not in a corner's window, where the corner labels stand.
            const bool across = band.Side == fsTop || band.Side == fsBottom;
            const double along = across ? col : row;
            const double from = across ? left : top, to = across ? right : bottom;
            if (along < from + 0.5 * reach || along > to - 0.5 * reach)
                continue;
            // A value stands at its line's end, close to the neatline; other
            // numbers of the margin (a title, a sheet number) stand off.
            const double off = band.Side == fsTop      ? top - word.Bottom
                               : band.Side == fsBottom ? word.Top - bottom
                               : band.Side == fsLeft   ? left - word.Right
                                                       : word.Left - right;
            if (off > 2 * (word.Bottom - word.Top))
                continue;
            labels.push_back({band.Side, col, row, std::stod(word.Text) * unit, word.Text});
        }
    }
    return labels;
}

namespace {

struct TSideFit {
    bool Good = false;
    double A = 0, B = 0; // position along the side = A + B * value
};

// Least squares of the labels' places along a side on their values.
TSideFit FitSide(const std::vector<std::pair<double, double>>& valueAlong)
{
    TSideFit fit;
    const double n = double(valueAlong.size());
    if (valueAlong.size() < 2)
        return fit;
    double sv = 0, sa = 0, svv = 0, sva = 0;
    for (const auto& [v, a] : valueAlong) {
        sv += v;
        sa += a;
        svv += v * v;
        sva += v * a;
    }
    const double d = n * svv - sv * sv;
    if (std::fabs(d) < 1e-12)
        return fit;
    fit.B = (n * sva - sv * sa) / d;
    fit.A = (sa - fit.B * sv) / n;
    fit.Good = true;
    return fit;
}

// The point of a side (a to b) where its position along it is at.
std::array<double, 2> OnSide(const TFrameCorner& a, const TFrameCorner& b, double along, bool byCol)
{
    const double span = byCol ? b.Col - a.Col : b.Row - a.Row;
    const double t = std::fabs(span) > 1e-9 ? (along - (byCol ? a.Col : a.Row)) / span : 0;
    return {a.Col + t * (b.Col - a.Col), a.Row + t * (b.Row - a.Row)};
}

} // namespace

TLabelledGrid GridFromLabels(const std::vector<TGridLabel>& labels, const std::array<TFrameCorner, 4>& corners,
                             double spacingEast, double spacingNorth)
{
    TLabelledGrid grid;
    char text[200];
    // Values along the top and bottom are eastings, along the sides northings.
    std::array<std::vector<std::pair<double, double>>, 4> sides;
    for (const TGridLabel& l : labels)
        sides[size_t(l.Side)].push_back({l.Value, l.Side == fsTop || l.Side == fsBottom ? l.Col : l.Row});
    std::array<TSideFit, 4> fits;
    const char* const sideNames[4] = {"top", "right", "bottom", "left"};
    for (size_t k = 0; k < 4; ++k) {
        const bool east = k == fsTop || k == fsBottom;
        const double spacing = east ? spacingEast : spacingNorth;
        std::vector<std::pair<double, double>>& side = sides[k];
        std::sort(side.begin(), side.end());
        for (size_t i = 1; i < side.size(); ++i) {
            const double steps = (side[i].first - side[0].first) / spacing;
            if (std::fabs(steps - std::round(steps)) > 1e-6 || side[i].first == side[i - 1].first) {
                std::snprintf(text, sizeof text,
                              "The grid labels make no lattice: the %s margin's values %.10g and %.10g are not a whole "
                              "number of spacings (%.10g) apart.",
                              sideNames[k], side[0].first, side[i].first, spacing);
                if (side[i].first == side[i - 1].first)
                    std::snprintf(text, sizeof text,
                                  "The grid labels make no lattice: the value %.10g is printed twice in the %s margin.",
                                  side[i].first, sideNames[k]);
                grid.Refusal = text;
                return grid;
            }
        }
        fits[k] = FitSide(side);
        if (!fits[k].Good)
            continue;
        const double step = std::fabs(fits[k].B) * spacing;
        for (const auto& [value, along] : side) {
            const double off = along - (fits[k].A + fits[k].B * value);
            if (side.size() > 2 && std::fabs(off) > 0.1 * step) {
                std::snprintf(text, sizeof text,
                              "The grid labels make no lattice: the %s margin's %.10g stands %.0f pixels from where "
                              "the other values put it (a step is %.0f).",
                              sideNames[k], value, std::fabs(off), step);
                grid.Refusal = text;
                return grid;
            }
        }
    }
    // One lattice: the sides across from each other grow the same way at
    // the same rate (within a tenth).
    for (const auto& [a, b, what] : {std::tuple{fsTop, fsBottom, "eastings"}, std::tuple{fsLeft, fsRight, "northings"}})
        if (fits[a].Good && fits[b].Good &&
            (fits[a].B * fits[b].B <= 0 || std::fabs(fits[a].B / fits[b].B - 1) > 0.1)) {
            grid.Refusal = std::string("The grid labels make no lattice: the ") + what +
                           " printed on opposite margins are spaced differently.";
            return grid;
        }
    grid.EastLabels = int(sides[fsTop].size() + sides[fsBottom].size());
    grid.NorthLabels = int(sides[fsLeft].size() + sides[fsRight].size());
    const bool eastGood = fits[fsTop].Good || fits[fsBottom].Good;
    const bool northGood = fits[fsLeft].Good || fits[fsRight].Good;
    const size_t most = std::max({sides[0].size(), sides[1].size(), sides[2].size(), sides[3].size()});
    if (!eastGood || !northGood || most < 3) {
        std::snprintf(text, sizeof text,
                      "Too few grid labels read to number the grid: %d along the top and bottom, %d along the sides "
                      "(two lines each way are needed, and three labels in one margin).",
                      grid.EastLabels, grid.NorthLabels);
        grid.Refusal = text;
        return grid;
    }
    // A line of constant value through its labels' places on the two sides,
    // or along the frame's side from one.
    auto line = [&](double value, TFrameSide first, TFrameSide second, size_t a0, size_t a1, size_t b0,
                    size_t b1) -> std::array<double, 4> {
        const bool byCol = first == fsTop;
        std::array<double, 2> p, q;
        if (fits[first].Good && fits[second].Good) {
            p = OnSide(corners[a0], corners[a1], fits[first].A + fits[first].B * value, byCol);
            q = OnSide(corners[b0], corners[b1], fits[second].A + fits[second].B * value, byCol);
        } else {
            const bool useFirst = fits[first].Good;
            const TSideFit& f = useFirst ? fits[first] : fits[second];
            p = useFirst ? OnSide(corners[a0], corners[a1], f.A + f.B * value, byCol)
                         : OnSide(corners[b0], corners[b1], f.A + f.B * value, byCol);
            // along the frame's sides across (left side for eastings, top for northings)
            const TFrameCorner& s0 = byCol ? corners[fcUpperLeft] : corners[fcUpperLeft];
            const TFrameCorner& s1 = byCol ? corners[fcLowerLeft] : corners[fcUpperRight];
            q = {p[0] + (s1.Col - s0.Col), p[1] + (s1.Row - s0.Row)};
        }
        return {p[0], p[1], q[0], q[1]};
    };
    auto meet = [](const std::array<double, 4>& e, const std::array<double, 4>& n) {
        const double dx1 = e[2] - e[0], dy1 = e[3] - e[1], dx2 = n[2] - n[0], dy2 = n[3] - n[1];
        const double d = dx1 * dy2 - dy1 * dx2;
        const double t = std::fabs(d) > 1e-12 ? ((n[0] - e[0]) * dy2 - (n[1] - e[1]) * dx2) / d : 0;
        return std::array<double, 2>{e[0] + t * dx1, e[1] + t * dy1};
    };
    // The values printed, each way: the one nearest their middle, and the
    // next line toward the others' side (a crossing the finder reaches).
    auto pick = [&](TFrameSide a, TFrameSide b, double spacing) {
        std::vector<double> values;
        for (const TFrameSide s : {a, b})
            for (const auto& [v, along] : sides[size_t(s)])
                values.push_back(v);
        std::sort(values.begin(), values.end());
        const double middle = (values.front() + values.back()) / 2;
        double near = values.front();
        for (const double v : values)
            if (std::fabs(v - middle) < std::fabs(near - middle))
                near = v;
        return std::pair{near, near + (values.back() > near ? spacing : -spacing)};
    };
    const auto [e1, e2] = pick(fsTop, fsBottom, spacingEast);
    const auto [n1, n2] = pick(fsLeft, fsRight, spacingNorth);
    auto crossing = [&](double e, double n) {
        const std::array<double, 2> at =
            meet(line(e, fsTop, fsBottom, fcUpperLeft, fcUpperRight, fcLowerLeft, fcLowerRight),
                 line(n, fsLeft, fsRight, fcUpperLeft, fcLowerLeft, fcUpperRight, fcLowerRight));
        return TLabelledCrossing{at[0], at[1], e, n};
    };
    grid.Known = crossing(e1, n1);
    grid.Second = crossing(e2, n2);
    // The finder counts east to the right and north up the picture; a
    // second crossing is needed only where the values grow otherwise.
    const double eastCols = grid.Second.Col - grid.Known.Col, northRows = grid.Second.Row - grid.Known.Row;
    grid.SecondNeeded = (e2 > e1) != (eastCols > 0) || (n2 > n1) != (northRows < 0);
    grid.Found = true;
    return grid;
}

TLabelledGrid ReadLabelledGrid(const TBitmap& bitmap, double spacingEast, double spacingNorth, double unit)
{
    TLabelledGrid grid;
    if (!Reader().Ready()) {
        grid.Refusal = "The grid labels cannot be read: the OCR library found no English data.";
        return grid;
    }
    const TMapFrame frame = FindMapFrame(bitmap);
    if (!frame.Found) {
        grid.Refusal = "The grid labels cannot be read without the map frame: " + frame.Refusal;
        return grid;
    }
    return GridFromLabels(ReadGridLabels(bitmap, frame.Corners, unit), frame.Corners, spacingEast, spacingNorth);
}

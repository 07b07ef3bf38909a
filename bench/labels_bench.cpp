// The corner labels read over sheets with a truth file beside them (the real
// scans' *_truth.txt, or the drawn sheets of label_sheets.py, which write the
// same lines): "CORNER NW x y u_x u_y  24 30' N 87 45' E", the position with
// its origin at the pixel's corner.
//
//   labels_bench [--verbose] SHEET...
//
// For each sheet: the labels read beside the truth corners (read right, read
// wrongly, not read), then the frame found and read with no input, as georef
// --auto-corners printed would (georeferenced, its corners' largest error
// against the truth in pixels), and the time it took. Totals at the end, in
// the table's form of bench/README.md.
#include "analysis/map_frame.h"
#include "analysis/printed_labels.h"
#include "imaging/format_registry.h"
#include "platform/bitmap.h"
#include "platform/graphic.h"
#include "platform/picture.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

namespace {

struct TTruth {
    bool Good = false;
    std::array<TFrameCorner, 4> Corners{};
    std::array<double, 4> X{}, Y{};
};

std::string TruthFile(const std::string& image)
{
    const size_t dot = image.rfind('.');
    return image.substr(0, dot) + "_truth.txt";
}

TTruth ReadTruth(const std::string& image)
{
    TTruth truth;
    std::ifstream in(TruthFile(image));
    const std::regex corner(
        R"(^CORNER (NW|NE|SE|SW) ([\d.]+) ([\d.]+) [\d.]+ [\d.]+\s+(\d+) (\d+)' ([NS]) (\d+) (\d+)' ([EW]))");
    std::string line;
    int found = 0;
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, corner))
            continue;
        const std::string name = m[1];
        const size_t i = name == "NW" ? fcUpperLeft : name == "NE" ? fcUpperRight : name == "SE" ? fcLowerRight : fcLowerLeft;
        truth.Corners[i].Col = std::stod(m[2]) - 0.5;
        truth.Corners[i].Row = std::stod(m[3]) - 0.5;
        truth.Y[i] = (std::stod(m[4]) + std::stod(m[5]) / 60) * (m[6] == "S" ? -1 : 1);
        truth.X[i] = (std::stod(m[7]) + std::stod(m[8]) / 60) * (m[9] == "W" ? -1 : 1);
        ++found;
    }
    truth.Good = found == 4;
    return truth;
}

std::string Angle(const TPrintedAngle& a) { return a.Read ? a.Text : "-"; }

struct TCount {
    int Right = 0, Wrong = 0, Unread = 0;
};

// A coordinate read (X or Y of one corner) against the truth.
void Score(bool known, double value, double truth, TCount& count, int& wrongAccepted)
{
    if (!known)
        ++count.Unread;
    else if (std::fabs(value - truth) < 1e-6)
        ++count.Right;
    else {
        ++count.Wrong;
        ++wrongAccepted;
    }
}

} // namespace

int main(int argc, char** argv)
{
    InitializeImaging();
    bool verbose = false, truthOnly = false;
    std::vector<std::string> sheets;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verbose")
            verbose = true;
        else if (arg == "--truth-only")
            truthOnly = true;
        else
            sheets.push_back(arg);
    }
    TCount onTruth, onFound;
    int wrongOnTruth = 0, wrongOnFound = 0, sheetsRead = 0, sheetsGeoref = 0, sheetsWrong = 0, sheetCount = 0;
    double seconds = 0, worstCorner = 0;
    for (const std::string& file : sheets) {
        const TTruth truth = ReadTruth(file);
        if (!truth.Good) {
            std::cerr << file << ": no four corners with printed coordinates in " << TruthFile(file) << "\n";
            continue;
        }
        ++sheetCount;
        std::unique_ptr<TGraphic> graphic = LoadPictureFile(file);
        const TBitmap& bitmap = graphic->ViewBitmap();

        const THemisphere none;
        const TPrintedCorners read = ReadPrintedCorners(bitmap, truth.Corners, none);
        std::printf("%s\n  on the truth corners:", file.c_str());
        for (size_t i = 0; i < 4; ++i) {
            std::printf(" %s %s %s;", FrameCornerNames[i], Angle(read.Labels[i].Longitude).c_str(),
                        Angle(read.Labels[i].Latitude).c_str());
            Score(read.XKnown[i], read.X[i], truth.X[i], onTruth, wrongOnTruth);
            Score(read.YKnown[i], read.Y[i], truth.Y[i], onTruth, wrongOnTruth);
        }
        std::printf("\n  %s\n", read.Sheet ? "a sheet" : read.Refusal.c_str());
        sheetsRead += read.Sheet;
        if (verbose)
            for (size_t i = 0; i < 4; ++i) {
                const TFrameCorner& c = truth.Corners[i];
                const int reach = int(LabelReach(truth.Corners));
                for (const TLabelWord& w : ReadLabelWords(bitmap, truth.Corners, int(c.Col) - reach,
                                                          int(c.Row) - reach, int(c.Col) + reach, int(c.Row) + reach))
                    std::printf("    %s word %-12s conf %5.1f at %+.0f..%+.0f, %+.0f..%+.0f\n", FrameCornerNames[i],
                                w.Text.c_str(), w.Confidence, w.Left - c.Col, w.Right - c.Col, w.Top - c.Row,
                                w.Bottom - c.Row);
            }

        if (truthOnly)
            continue;
        // With no input: the frame found, its labels read.
        const auto start = std::chrono::steady_clock::now();
        const TMapFrame frame = FindMapFrame(bitmap);
        TPrintedCorners found;
        if (frame.Found)
            found = ReadPrintedCorners(bitmap, frame.Corners, none);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        seconds += took;
        bool right = found.Sheet;
        double worst = 0;
        for (size_t i = 0; i < 4; ++i) {
            Score(found.XKnown[i], found.X[i], truth.X[i], onFound, wrongOnFound);
            Score(found.YKnown[i], found.Y[i], truth.Y[i], onFound, wrongOnFound);
            if (found.Sheet && (std::fabs(found.X[i] - truth.X[i]) > 1e-6 || std::fabs(found.Y[i] - truth.Y[i]) > 1e-6))
                right = false;
            if (frame.Found)
                worst = std::max(worst, std::hypot(frame.Corners[i].Col - truth.Corners[i].Col,
                                                   frame.Corners[i].Row - truth.Corners[i].Row));
        }
        if (found.Sheet && !right)
            ++sheetsWrong;
        if (right) {
            ++sheetsGeoref;
            worstCorner = std::max(worstCorner, worst);
        }
        std::printf("  with no input: %s (%.2f s)\n",
                    !frame.Found ? ("no frame: " + frame.Refusal).c_str()
                    : right      ? ("georeferenced, corners within " + std::to_string(worst) + " px").c_str()
                    : found.Sheet ? "WRONG SHEET ACCEPTED"
                                  : found.Refusal.c_str(),
                    took);
    }
    std::printf("\nsheets %d\n", sheetCount);
    std::printf("on the truth corners: coordinates read right %d, read wrongly %d, not read %d; sheets read %d\n",
                onTruth.Right, onTruth.Wrong, onTruth.Unread, sheetsRead);
    std::printf("with no input: coordinates read right %d, read wrongly %d, not read %d; sheets georeferenced %d, "
                "wrongly %d; worst corner %.2f px; %.2f s a sheet\n",
                onFound.Right, onFound.Wrong, onFound.Unread, sheetsGeoref, sheetsWrong, worstCorner,
                sheetCount ? seconds / sheetCount : 0.0);
    return wrongOnTruth + wrongOnFound > 0 ? 1 : 0;
}

// The coordinates printed beside a sheet's corners: crops of real scans and
// drawn sheets read to their exact texts, the checks that make four readings
// one sheet or refuse it with the reason, and pinwright-cli reading a small
// drawn sheet end to end. The crops and the sheet, and the commands that
// made them, are in tests/data/labels.
#include "analysis/printed_labels.h"
#include "imaging/format_registry.h"
#include "platform/bitmap.h"
#include "platform/graphic.h"
#include "platform/picture.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

std::unique_ptr<TGraphic> LoadFixture(const std::string& name)
{
    static const bool ready = [] {
        InitializeImaging();
        return true;
    }();
    (void)ready;
    return LoadPictureFile(pwtest::DataPath("labels/" + name));
}

// A frame with this corner at (col, row), its sides far long (the map face
// beyond the crop).
std::array<TFrameCorner, 4> FrameAround(int corner, double col, double row, double far = 10000)
{
    const double dx = (corner == fcUpperLeft || corner == fcLowerLeft) ? far : -far;
    const double dy = (corner == fcUpperLeft || corner == fcUpperRight) ? far : -far;
    std::array<TFrameCorner, 4> frame{};
    const double left = std::min(col, col + dx), right = std::max(col, col + dx);
    const double top = std::min(row, row + dy), bottom = std::max(row, row + dy);
    frame[fcUpperLeft] = {left, top, 0};
    frame[fcUpperRight] = {right, top, 0};
    frame[fcLowerRight] = {right, bottom, 0};
    frame[fcLowerLeft] = {left, bottom, 0};
    return frame;
}

std::string Shown(const TPrintedAngle& a) { return a.Read ? a.Text : "-"; }

TEST(PrintedLabels, CropsReadToTheirPrintedTexts)
{
    const struct {
        const char* File;
        int Corner;
        double Col, Row;
        const char* Longitude;
        const char* Latitude;
        // Read as the sheet's reader does, beside a frame of this side (its
        // window at the corner's reach, labels turned read too); 0: every
        // word of the crop, upright.
        double Side = 0;
    } cases[] = {
        // degrees in the corner box, minutes across the rules
        {"s01_upper_left.jpg", fcUpperLeft, 259.54, 199.63, "87°45'", "24°30'"},
        // "0'" alone beside the rule; the minutes' sign cut by the parallel
        {"s01_lower_right.jpg", fcLowerRight, 120.17, 120.16, "88°00'", "24°15'"},
        // "E. of Greenwich" after the longitude gives its letter
        {"s03_lower_left.jpg", fcLowerLeft, 159.97, 100.24, "84°00'E", "27°00'"},
        // red grid values beside the labels
        {"s02_upper_right.jpg", fcUpperRight, 120.30, 180.05, "84°00'", "24°45'"},
        // a turned name's last letter beside the degrees: no letter is taken
        // for the latitude, its minutes are read alone
        {"s02_lower_left.jpg", fcLowerLeft, 160.02, 109.59, "83°45'E", "30'"},
        // one line each, with letters
        {"drawn_inline_upper_right.jpg", fcUpperRight, 199.68, 199.67, "131°30'E", "32°00'S"},
        // minutes only, the degrees printed at the other corners
        {"drawn_partial_upper_right.jpg", fcUpperRight, 199.86, 189.56, "45'E", "30'S"},
        // bold serif 5 in grey (thresholded, it read 3 at both corners)
        {"drawn_bold_upper_right.png", fcUpperRight, 199.23, 299.73, "57°00'E", "32°00'S"},
        // the corner's window (216 px) cuts the latitude's first 6: grown
        {"drawn_cut_upper_left.jpg", fcUpperLeft, 329.68, 229.89, "73°00'E", "66°00'N", 2400},
        // turned upward, serif bold 11 whose 1s stand apart (read as 1°);
        // the upright digits beside two touching turned 0s are no signs
        {"drawn_turned_upper_left.jpg", fcUpperLeft, 199.40, 150.23, "80°00'W", "11°00'N", 10000},
        // a turned latitude's N read upright beside the longitude's start
        {"drawn_mono_lower_left.jpg", fcLowerLeft, 149.67, 99.63, "95°00'E", "2°45'N", 10000},
        // a bold serif W the reader doubts, read alike both ways
        {"drawn_serif_lower_right.jpg", fcLowerRight, 149.89, 99.78, "122°30'W", "58°00'N", 10000},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<TGraphic> graphic = LoadFixture(c.File);
        const TBitmap& bitmap = graphic->ViewBitmap();
        const std::array<TFrameCorner, 4> frame = FrameAround(c.Corner, c.Col, c.Row, c.Side > 0 ? c.Side : 10000);
        const TCornerLabel label =
            c.Side > 0 ? ReadPrintedCorners(bitmap, frame, {}).Labels[size_t(c.Corner)]
                       : AssembleCornerLabel(ReadLabelWords(bitmap, frame, 0, 0, bitmap.Width(), bitmap.Height()),
                                             c.Corner, c.Col, c.Row);
        EXPECT_EQ(Shown(label.Longitude), c.Longitude) << c.File;
        EXPECT_EQ(Shown(label.Latitude), c.Latitude) << c.File;
    }
}

TPrintedAngle Angle(int degrees, int minutes, char letter = 0)
{
    TPrintedAngle a;
    a.Read = true;
    a.Degrees = degrees;
    a.Minutes = minutes;
    a.Letter = letter;
    a.Confidence = 99;
    return a;
}

TEST(PrintedLabels, FourReadingsMakeOneSheetOrAreRefused)
{
    const TPrintedAngle none;
    // s01 as printed: UL, UR, LR, LL; longitude then latitude.
    const std::array<TCornerLabel, 4> s01 = {{{Angle(87, 45), Angle(24, 30)},
                                              {Angle(88, 0), Angle(24, 30)},
                                              {Angle(88, 0), Angle(24, 15)},
                                              {Angle(87, 45), Angle(24, 15)}}};
    const double s01Aspect = 5224.0 / 5715.6;
    struct TCase {
        const char* What;
        std::array<TCornerLabel, 4> Labels;
        THemisphere Hemisphere;
        double Aspect;
        std::array<double, 4> X, Y; // when a sheet
        std::string Refusal;
    };
    auto with = [&](size_t corner, bool lon, TPrintedAngle a) {
        std::array<TCornerLabel, 4> labels = s01;
        (lon ? labels[corner].Longitude : labels[corner].Latitude) = a;
        return labels;
    };
    const std::array<double, 4> s01X = {87.75, 88, 88, 87.75}, s01Y = {24.5, 24.5, 24.25, 24.25};
    const std::array<double, 4> zero{};
    const TCase cases[] = {
        {"s01", s01, {}, s01Aspect, s01X, s01Y, ""},
        {"degrees at one corner of a side only, minutes at another", with(1, false, Angle(-1, 30)), {}, s01Aspect,
         s01X, s01Y, ""},
        {"southern and western by their letters",
         {{{Angle(49, 30, 'W'), Angle(53, 45, 'S')},
           {Angle(49, 15, 'W'), Angle(53, 45, 'S')},
           {Angle(49, 15, 'W'), Angle(54, 0, 'S')},
           {Angle(49, 30, 'W'), Angle(54, 0, 'S')}}},
         {}, 0.59, {-49.5, -49.25, -49.25, -49.5},
         {-53.75, -53.75, -54, -54}, ""},
        {"a misread latitude", with(1, false, Angle(24, 20)), {}, s01Aspect, zero, zero,
         "The corner labels make no sheet: the top corners' latitudes differ (24°30' and 24°20')."},
        {"a missing label", with(2, true, none), {}, s01Aspect, zero, zero,
         "The corner labels make no sheet: the lower right corner's longitude was not read."},
        {"both corners of a side in part",
         {{{Angle(-1, 45), Angle(24, 30)},
           {Angle(88, 0), Angle(24, 30)},
           {Angle(88, 0), Angle(24, 15)},
           {Angle(87, -1), Angle(24, 15)}}},
         {}, s01Aspect, zero, zero,
         "The corner labels make no sheet: the left corners' longitudes were read in part only (45' and 87°)."},
        {"a span of no series",
         {{{Angle(87, 45), Angle(24, 30)},
           {Angle(88, 0), Angle(24, 30)},
           {Angle(88, 0), Angle(24, 13)},
           {Angle(87, 45), Angle(24, 13)}}},
         {}, s01Aspect, zero, zero,
         "The corner labels make no sheet: the latitudes span 17' from the bottom to the top, no sheet's span."},
        {"consistent values that draw another shape (5 read as 2)",
         {{{Angle(87, 45), Angle(54, 30)},
           {Angle(88, 0), Angle(54, 30)},
           {Angle(88, 0), Angle(54, 15)},
           {Angle(87, 45), Angle(54, 15)}}},
         {}, s01Aspect, zero, zero,
         "The corner labels make no sheet: a sheet of 15' by 15' is 0.582 times as wide as high, the frame found "
         "0.914 times."},
        {"the hemisphere given against the values' order", s01, {'S', 0}, s01Aspect, zero, zero,
         "The corner labels make no sheet: the top corners' latitude (24°30'S) is not north of the bottom "
         "corners' (24°15'S)."},
        {"the letters against the hemisphere given",
         {{{Angle(87, 45), Angle(24, 30, 'N')},
           {Angle(88, 0), Angle(24, 30)},
           {Angle(88, 0), Angle(24, 15)},
           {Angle(87, 45), Angle(24, 15)}}},
         {'S', 0}, s01Aspect, zero, zero,
         "The corner labels make no sheet: the printed letters contradict the latitude hemisphere given."},
    };
    for (const TCase& c : cases) {
        TPrintedCorners sheet;
        sheet.Labels = c.Labels;
        CheckGraticuleSheet(sheet, c.Hemisphere, c.Aspect);
        EXPECT_EQ(sheet.Refusal, c.Refusal) << c.What;
        EXPECT_EQ(sheet.Sheet, c.Refusal.empty()) << c.What;
        if (!sheet.Sheet)
            continue;
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_DOUBLE_EQ(sheet.X[i], c.X[i]) << c.What << " corner " << i;
            EXPECT_DOUBLE_EQ(sheet.Y[i], c.Y[i]) << c.What << " corner " << i;
        }
    }
}

TEST(PrintedLabels, GridValuesMakeOneLatticeOrAreRefused)
{
    // A frame of 1000 x 800 pixels; eastings every 200 pixels along the top
    // and bottom, northings down the left side, 1000 apart.
    std::array<TFrameCorner, 4> frame{};
    frame[fcUpperLeft] = {100, 100, 0};
    frame[fcUpperRight] = {1100, 100, 0};
    frame[fcLowerRight] = {1100, 900, 0};
    frame[fcLowerLeft] = {100, 900, 0};
    std::vector<TGridLabel> lattice;
    for (int k = 0; k < 5; ++k) {
        lattice.push_back({fsTop, 200.0 + 200 * k, 80, 350000.0 + 1000 * k, ""});
        lattice.push_back({fsBottom, 200.0 + 200 * k, 920, 350000.0 + 1000 * k, ""});
    }
    for (int k = 0; k < 4; ++k)
        lattice.push_back({fsLeft, 80, 200.0 + 200 * k, 860000.0 - 1000 * k, ""});
    auto with = [&](size_t i, double col, double value) {
        std::vector<TGridLabel> labels = lattice;
        labels[i].Col = col;
        labels[i].Value = value;
        return labels;
    };
    std::vector<TGridLabel> topOnly;
    std::copy_if(lattice.begin(), lattice.end(), std::back_inserter(topOnly),
                 [](const TGridLabel& l) { return l.Side == fsTop; });
    const struct {
        const char* What;
        std::vector<TGridLabel> Labels;
        std::string Refusal; // empty: the crossing at (600, 600) is 352000, 858000
    } cases[] = {
        {"one lattice", lattice, ""},
        {"a value misread", with(4, 600, 352500),
         "The grid labels make no lattice: the top margin's values 350000 and 352500 are not a whole number of "
         "spacings (1000) apart."},
        {"a value away from its line", with(4, 640, 352000),
         "The grid labels make no lattice: the top margin's 352000 stands 32 pixels from where the other values put "
         "it (a step is 200)."},
        {"no northings", topOnly,
         "Too few grid labels read to number the grid: 5 along the top and bottom, 0 along the sides (two lines each "
         "way are needed, and three labels in one margin)."},
    };
    for (const auto& c : cases) {
        const TLabelledGrid grid = GridFromLabels(c.Labels, frame, 1000, 1000);
        EXPECT_EQ(grid.Refusal, c.Refusal) << c.What;
        EXPECT_EQ(grid.Found, c.Refusal.empty()) << c.What;
        if (!grid.Found)
            continue;
        EXPECT_NEAR(grid.Known.Col, 600, 1e-6) << c.What;
        EXPECT_NEAR(grid.Known.Row, 600, 1e-6) << c.What;
        EXPECT_EQ(grid.Known.X, 352000) << c.What;
        EXPECT_EQ(grid.Known.Y, 858000) << c.What;
        EXPECT_FALSE(grid.SecondNeeded) << c.What << ": the values grow right and up";
    }
}

TEST(PrintedLabels, TheCliReadsADrawnSheetAndGeoreferencesIt)
{
    pwtest::TempDir dir;
    const std::string sheet = pwtest::DataPath("labels/drawn_sheet.png");
    const std::string cli = pwtest::BinPath("pinwright-cli");
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Out, Err;
    } cases[] = {
        {{"corners", sheet, "--read-labels"},
         0,
         "UL 170.000 170.000 0.000 -127.250000 7.750000\n"
         "UR 755.000 170.000 0.000 -127.000000 7.750000\n"
         "LR 755.000 760.000 0.000 -127.000000 7.500000\n"
         "LL 170.000 760.000 0.000 -127.250000 7.500000\n",
         ""},
        {{"georef", sheet, "--auto-corners", "printed", "--crs", "EPSG:4326", "--out", dir.File("sheet.jgw")},
         0,
         "0.000427350427\n0.000000000000\n0.000000000000\n-0.000423728814\n-127.3226496\n7.8220339\n",
         ""},
        {{"georef", sheet, "--auto-corners", "printed", "--hemisphere", "NN", "--out", dir.File("nn.jgw")},
         1, "",
         "'NN' is not a hemisphere for --hemisphere (N or S, E or W, or one of each as NE).\n"},
        {{"corners", sheet, "--hemisphere", "N"}, 2, "",
         "pinwright-cli: --hemisphere needs --read-labels\nUsage: pinwright-cli corners IMAGE [--read-labels] [--hemisphere H].\n"},
        // The sheet prints no grid values.
        {{"grid", sheet, "--spacing", "0.25", "--known", "labels"}, 1, "",
         "Too few grid labels read to number the grid: 0 along the top and bottom, 0 along the sides "
         "(two lines each way are needed, and three labels in one margin).\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {cli};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        const pwtest::CommandResult r = pwtest::Run(argv);
        EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Args[0] << " " << c.Args.back() << ": " << r.Err;
        EXPECT_EQ(r.Out, c.Out) << c.Args.back();
        if (c.ExitCode != 0) {
            EXPECT_EQ(r.Err, c.Err) << c.Args.back();
        }
    }
    EXPECT_FALSE(pwtest::FileExists(dir.File("nn.jgw")));

    // The batch takes printed in its auto-corners column.
    pwtest::WriteText(dir.File("series.csv"), "image,out,auto-corners,crs\n" + sheet + ",batch.jgw,printed,EPSG:4326\n");
    const pwtest::CommandResult batch =
        pwtest::Run({"/bin/sh", "-c", "cd '" + dir.Path() + "' && '" + cli + "' georef --batch series.csv"});
    EXPECT_EQ(batch.ExitCode, 0) << batch.Err;
    EXPECT_EQ(batch.Out, "line 2, batch.jgw: ok\n1 sheets: 1 ok, 0 failed, 0 skipped\n");
    EXPECT_EQ(pwtest::ReadText(dir.File("batch.jgw")), pwtest::ReadText(dir.File("sheet.jgw")));
}

} // namespace

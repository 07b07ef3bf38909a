// The map-frame finder on real scanned sheets whose corners were measured
// by hand-checked line fits: for each sheet, found or refused (with why),
// each corner's error against the measured one, and the bow of each side
// as found beside the measured bow. Usage:
//   frame_real [DIR]   (default /work/shared/scans)
// Every NAME_truth.txt in DIR with CORNER lines and a NAME.jpg, .png or
// .tif beside it is a sheet. Its positions count from the top-left corner
// of the top-left pixel: half a pixel is taken off to compare them with the
// finder's, whose integers are pixel centres.
#include "analysis/map_frame.h"
#include "imaging/format_registry.h"
#include "platform/bitmap.h"
#include "platform/picture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TTruth {
    std::string Name;
    std::string Image;
    TFrameCorner Corners[4]; // UL, UR, LR, LL; Sigma: the larger of the two uncertainties
    double Bow[4] = {};      // top, bottom, left, right
    bool HasBow[4] = {};
};

bool ReadTruth(const std::filesystem::path& file, TTruth& truth)
{
    static const std::map<std::string, int> corners = {{"NW", 0}, {"NE", 1}, {"SE", 2}, {"SW", 3}};
    static const std::map<std::string, int> sides = {{"top", 0}, {"bottom", 1}, {"left", 2}, {"right", 3}};
    std::ifstream in(file);
    std::string line;
    int found = 0;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind, name;
        words >> kind >> name;
        if (kind == "CORNER" && corners.count(name)) {
            double x, y, ux, uy;
            if (words >> x >> y >> ux >> uy) {
                truth.Corners[corners.at(name)] = {x - 0.5, y - 0.5, std::max(ux, uy)};
                ++found;
            }
        } else if (kind == "SIDE" && sides.count(name)) {
            std::string word;
            while (words >> word)
                if (word == "bow" && words >> truth.Bow[sides.at(name)])
                    truth.HasBow[sides.at(name)] = true;
        }
    }
    return found == 4;
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path dir = argc > 1 ? argv[1] : "/work/shared/scans";
    InitializeImaging();
    std::vector<TTruth> sheets;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string file = entry.path().filename().string();
        const std::string suffix = "_truth.txt";
        if (file.size() <= suffix.size() || file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        TTruth truth;
        truth.Name = file.substr(0, file.size() - suffix.size());
        for (const char* extension : {".jpg", ".png", ".tif"})
            if (std::filesystem::exists(dir / (truth.Name + extension)))
                truth.Image = (dir / (truth.Name + extension)).string();
        if (!truth.Image.empty() && ReadTruth(entry.path(), truth))
            sheets.push_back(truth);
    }
    std::sort(sheets.begin(), sheets.end(), [](const TTruth& a, const TTruth& b) { return a.Name < b.Name; });

    int found = 0, within3 = 0, beyond5 = 0;
    for (const TTruth& truth : sheets) {
        const std::unique_ptr<TGraphic> graphic = LoadPictureFile(truth.Image);
        const TBitmap& bitmap = graphic->ViewBitmap();
        const auto start = std::chrono::steady_clock::now();
        const TMapFrame frame = FindMapFrame(bitmap);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s (%d x %d, %.2f s)\n", truth.Name.c_str(), bitmap.Width(), bitmap.Height(), seconds);
        if (!frame.Found) {
            std::printf("  refused: %s\n", frame.Refusal.c_str());
            continue;
        }
        ++found;
        double worst = 0;
        for (int c = 0; c < 4; ++c) {
            const TFrameCorner& got = frame.Corners[size_t(c)];
            const TFrameCorner& want = truth.Corners[c];
            const double error = std::hypot(got.Col - want.Col, got.Row - want.Row);
            worst = std::max(worst, error);
            std::printf("  %s %9.2f %9.2f  truth %9.2f %9.2f (+-%.2f)  error %5.2f px  sigma %.2f\n",
                        FrameCornerNames[c], got.Col, got.Row, want.Col, want.Row, want.Sigma, error, got.Sigma);
        }
        std::printf("  bow:");
        for (int s = 0; s < 4; ++s) {
            std::printf(" %s %+.1f", FrameSideNames[s], frame.Bow[size_t(s)]);
            if (truth.HasBow[s])
                std::printf(" (truth %+.1f)", truth.Bow[s]);
        }
        std::printf("\n  worst corner %.2f px\n", worst);
        within3 += worst <= 3 ? 1 : 0;
        beyond5 += worst > 5 ? 1 : 0;
    }
    std::printf("%zu sheets: %d found, %d with all four corners within 3 px, %d accepted beyond 5 px\n", sheets.size(),
                found, within3, beyond5);
    FinalizeImaging();
    return 0;
}

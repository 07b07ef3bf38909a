// Writes a synthetic map series for georef --batch --auto-corners: sheets
// of a graticule series, 10' of longitude by 6' of latitude each at
// 1:25,000, drawn as scans (sheet_drawing.h) and written as Deflate TIFF
// files, with
//   series.csv  the batch list: image, out, auto-corners (the sheet's
//               corners in degrees), corners-crs, crs, transform
//   truth.csv   sheet, whether it has a frame, its corners in degrees, and
//               where its map frame's corners lie on the scan (UL, UR, LR,
//               LL: column, row)
// Usage: make_sheet_series DIR [--sheets N] [--unframed N] [--megapixels MP]
//                              [--first SEED]
// The first sheet lies at 9 deg E, 50 deg 30' N; ten sheets to a row. The
// --unframed sheets (default 2) come after the others, drawn without a
// frame, so that the batch has sheets to refuse.
#include "bench/sheet_drawing.h"

#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void WriteTiff(const TBitmap& bitmap, const std::string& fileName)
{
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(fileName.c_str(), "w"), TIFFClose);
    if (!tiff)
        throw std::runtime_error("cannot write " + fileName);
    TIFFSetField(tiff.get(), TIFFTAG_IMAGEWIDTH, uint32_t(bitmap.Width()));
    TIFFSetField(tiff.get(), TIFFTAG_IMAGELENGTH, uint32_t(bitmap.Height()));
    TIFFSetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff.get(), TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff.get(), TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<uint32_t> argb(size_t(bitmap.Width()));
    std::vector<uint8_t> rgb(size_t(bitmap.Width()) * 3);
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.RowToARGB(y, 0, bitmap.Width(), argb.data());
        for (size_t x = 0; x < argb.size(); ++x) {
            rgb[3 * x] = uint8_t(argb[x] >> 16);
            rgb[3 * x + 1] = uint8_t(argb[x] >> 8);
            rgb[3 * x + 2] = uint8_t(argb[x]);
        }
        if (TIFFWriteScanline(tiff.get(), rgb.data(), uint32_t(y), 0) < 0)
            throw std::runtime_error("cannot write " + fileName);
    }
}

std::string Degrees(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10f", value);
    return text;
}

int Usage()
{
    std::cerr << "usage: make_sheet_series DIR [--sheets N] [--unframed N] [--megapixels MP] [--first SEED]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-')
        return Usage();
    const std::string dir = argv[1];
    int sheets = 50, unframed = 2;
    double megapixels = 6;
    uint32_t first = 1000;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        if (arg == "--sheets")
            sheets = std::atoi(argv[++i]);
        else if (arg == "--unframed")
            unframed = std::atoi(argv[++i]);
        else if (arg == "--megapixels")
            megapixels = std::atof(argv[++i]);
        else if (arg == "--first")
            first = uint32_t(std::atoi(argv[++i]));
        else
            return Usage();
    }
    std::filesystem::create_directories(dir);
    std::ofstream list(dir + "/series.csv"), truth(dir + "/truth.csv");
    list << "image,out,auto-corners,corners-crs,crs,transform\n";
    truth.precision(10);
    truth << "sheet,framed,west,north,east,south,ul_col,ul_row,ur_col,ur_row,lr_col,lr_row,ll_col,ll_row\n";
    for (int k = 0; k < sheets + unframed; ++k) {
        const double west = 9 + (k % 10) * 10 / 60.0, north = 50.5 - (k / 10) * 6 / 60.0;
        const double east = west + 10 / 60.0, south = north - 6 / 60.0;
        TSheetPlan plan = RandomSheetPlan(first + uint32_t(k), megapixels);
        // The sheet's map at 1:25,000: a minute of latitude is 1852 m.
        plan.FrameWidthMm = 10 * 1852 * std::cos((north + south) / 2 * M_PI / 180) / 25;
        plan.FrameHeightMm = 6 * 1852 / 25.0;
        plan.NoFrame = k >= sheets;
        const TSheet sheet = DrawSheet(plan);
        char name[32];
        std::snprintf(name, sizeof name, "sheet_%03d", k + 1);
        WriteTiff(*sheet.Bitmap, dir + "/" + name + ".tif");
        list << name << ".tif,out/" << name << ".tif,\"" << Degrees(west) << ',' << Degrees(north) << ','
             << Degrees(east) << ',' << Degrees(north) << ',' << Degrees(east) << ',' << Degrees(south) << ','
             << Degrees(west) << ',' << Degrees(south) << "\",EPSG:4258,EPSG:25832,affine\n";
        truth << name << ',' << (plan.NoFrame ? 0 : 1) << ',' << Degrees(west) << ',' << Degrees(north) << ',' << Degrees(east) << ','
              << Degrees(south);
        for (const TSheetPoint& corner : sheet.Corners)
            truth << ',' << corner.X << ',' << corner.Y;
        truth << '\n';
        std::cerr << name << ": " << DescribeSheet(plan) << "\n";
    }
    return 0;
}

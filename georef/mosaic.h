#pragma once
// A mosaic of the sheets a batch made: one GDAL VRT over their GeoTIFFs,
// each sheet's north-up warped copy where it has one (a clipped sheet's
// outside transparent), else its GeoTIFF.
#include <string>
#include <vector>

// The file of each target (TARGET.tif) that goes into the mosaic: its
// TARGET_warped.tif when that exists, else itself when it exists.
std::vector<std::string> MosaicSheets(const std::vector<std::string>& targets);

// Writes vrt by gdalbuildvrt (found as the other converters are, from
// startDir) over the sheets; vrt is replaced only once it is complete.
// Raises when there is no sheet or the converter fails.
void BuildMosaic(const std::vector<std::string>& sheets, const std::string& vrt, const std::string& startDir);

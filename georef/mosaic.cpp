#include "georef/mosaic.h"

#include "georef/converter.h"
#include "platform/exceptions.h"

#include <filesystem>

namespace fs = std::filesystem;

std::vector<std::string> MosaicSheets(const std::vector<std::string>& targets)
{
    std::vector<std::string> sheets;
    for (const std::string& target : targets) {
        const fs::path path(target);
        if (path.extension() != ".tif")
            continue;
        const fs::path warped = path.parent_path() / (path.stem().string() + "_warped.tif");
        if (fs::exists(warped))
            sheets.push_back(warped.string());
        else if (fs::exists(path))
            sheets.push_back(path.string());
    }
    return sheets;
}

void BuildMosaic(const std::vector<std::string>& sheets, const std::string& vrt, const std::string& startDir)
{
    if (sheets.empty())
        throw Exception("The mosaic '" + vrt + "' has no GeoTIFF sheet to take");
    const std::string part = vrt + ".part";
    std::vector<std::string> arguments = {"-q", "-overwrite", part};
    arguments.insert(arguments.end(), sheets.begin(), sheets.end());
    const TConverterResult result = RunConverterProcess(FindConverter("gdalbuildvrt", startDir), arguments);
    std::error_code ignored;
    if (!result.Started || !result.Finished || result.ExitCode != 0 || !fs::exists(part)) {
        fs::remove(part, ignored);
        throw Exception("The converter gdalbuildvrt did not make the mosaic '" + vrt + "'" +
                        (result.ErrorOutput.empty() ? std::string() : ": " + result.ErrorOutput));
    }
    fs::rename(part, vrt);
}

#include "georef/export_pipeline.h"

#include "georef/converter.h"
#include "georef/coordinates.h"
#include "georef/geotiff_check.h"
#include "georef/geotiff_strip.h"
#include "georef/geotiff_writer.h"
#include "imaging/loaded_picture.h"
#include "georef/world_file.h"
#include "platform/durable_files.h"
#include "platform/exceptions.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// temporar.txt holds the GeoKeys for geotifcp when a system is given;
// temporar.prj and temporar.xml a JGW's side files until they are renamed;
// temporar.wrp the warped copy and temporar.vrt the grid it may be made by.
const char* const TemporaryExtensions[] = {".tfw", ".bmp", ".tif", ".tmp", ".txt", ".prj", ".xml", ".wrp", ".vrt",
                                          ".cog", ".geojson"};

// Steps of the grid on which a fit that gdalwarp cannot compute is sampled,
// along each side of the picture.
constexpr int WarpGridSteps = 20;

// The last non-empty line a converter wrote to stderr, for the error text.
std::string LastLine(const std::string& text)
{
    size_t end = text.size();
    while (end > 0) {
        while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' '))
            --end;
        const size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
        const size_t from = start == std::string::npos ? 0 : start + 1;
        if (end > from)
            return text.substr(from, end - from);
        end = from;
    }
    return "";
}

std::string WithDetail(const std::string& message, const std::string& stderrText)
{
    const std::string detail = LastLine(stderrText);
    return detail.empty() ? message : message + ": " + detail;
}

bool HasContent(const std::string& fileName)
{
    struct stat info {};
    return ::stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

void DeleteFile(const std::string& fileName)
{
    if (::unlink(fileName.c_str()) != 0)
        RaiseIOError(errno);
}

// A leftover of an earlier run is removed; its absence is no error.
void DeleteLeftover(const std::string& fileName)
{
    if (::unlink(fileName.c_str()) != 0 && errno != ENOENT)
        RaiseIOError(errno);
}

// An existing target must be writable, as the user expects to be asked
// before a write-protected file is replaced.
void CheckReplaceable(const std::string& fileName)
{
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno != ENOENT)
        RaiseIOError(errno);
}


void CopyFile(const std::string& from, const std::string& to)
{
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error)
        RaiseIOError(error.value());
}

// ".jpg" for map.jpg: the world file's image is BaseName with this extension.
std::string ImageExtension(const std::string& fileName)
{
    const std::string name = std::filesystem::path(fileName).filename().string();
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? ".jpg" : name.substr(dot);
}

} // namespace

TExportPipeline::TExportPipeline(std::string startDir) : FStartDir(std::move(startDir)) {}

void TExportPipeline::SplitTargetName(const std::string& fileName)
{
    const size_t slash = fileName.rfind('/');
    const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    FTargetDir = fileName.substr(0, fileName.size() - name.size());
    const size_t dot = name.rfind('.');
    FBaseName = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string TExportPipeline::TemporaryFile(const std::string& extension) const
{
    return FTargetDir + "temporar" + extension;
}

void TExportPipeline::CheckSource(const TExportSource& source) const
{
    for (const char* extension : TemporaryExtensions) {
        std::error_code error;
        if (std::filesystem::equivalent(source.FileName, TemporaryFile(extension), error))
            throw EInOutError("The image '" + source.FileName +
                              "' has the name of a temporary file of the export; rename it first");
    }
}

void TExportPipeline::RunConverter(const std::string& name, const std::vector<std::string>& arguments,
                                   const std::string& output)
{
    const TConverterResult result = RunConverterProcess(FindConverter(name, FStartDir), arguments, WhileWaiting);
    if (!result.Started) {
        if (ShowMessage)
            ShowMessage("Error starting module!");
        throw Exception("Cannot start the converter " + name);
    }
    if (!result.Finished)
        throw Exception(WithDetail("The converter " + name + " did not finish", result.ErrorOutput));
    if (result.ExitCode != 0)
        throw Exception(WithDetail("The converter " + name + " failed with exit code " +
                                       std::to_string(result.ExitCode),
                                   result.ErrorOutput));
    if (!HasContent(output))
        throw Exception(WithDetail("The converter " + name + " made no output file", result.ErrorOutput));
}

void TExportPipeline::ConvertSource(const TExportSource& source)
{
    const std::string bmp = TemporaryFile(".bmp");
    const std::string tif = TemporaryFile(".tif");
    DeleteLeftover(bmp);
    DeleteLeftover(tif);
    switch (source.Format) {
    case TSourceFormat::BMP:
        RunConverter("bmp2tiff", {"-c", "packbits", source.FileName, tif}, tif);
        break;
    case TSourceFormat::JPEG:
        RunConverter("jpg2bmp", {source.FileName, bmp}, bmp);
        RunConverter("bmp2tiff", {"-c", "packbits", bmp, tif}, tif);
        DeleteFile(bmp);
        break;
    case TSourceFormat::TIFF:
        // geotifcp would copy the source's placement and keys beside the new ones.
        CopyFile(source.FileName, tif);
        StripGeoTiffTags(tif);
        break;
    default:
        break;
    }
}

void TExportPipeline::MakeGeoTiff(const TAffineTransform& written, const TCrs& crs)
{
    BuildGeoTiff(written, crs);
    PlaceGeoTiff(true, false);
}

void TExportPipeline::BuildGeoTiff(const TAffineTransform& written, const TCrs& crs)
{
    const std::string tfw = TemporaryFile(".tfw");
    const std::string tif = TemporaryFile(".tif");
    const std::string tmp = TemporaryFile(".tmp");
    const std::string keys = TemporaryFile(".txt");
    DeleteLeftover(tmp);
    std::vector<std::string> arguments = {"-c", "packbits"};
    if (crs.Given()) {
        WriteTextFile(keys, GeoKeyMetadataText(crs));
        arguments.insert(arguments.end(), {"-g", keys});
    }
    arguments.insert(arguments.end(), {"-e", tfw, tif, tmp});
    RunConverter("geotifcp", arguments, tmp);
    if (crs.Given())
        DeleteFile(keys);
    // geotifcp ends with status 0 also when it could not use the world file.
    TGeoTiffPlacement placement;
    std::string error;
    if (!ReadGeoTiffPlacement(tmp, placement, error) || !PlacementMatches(placement, written))
        throw Exception(WithDetail("The converter geotifcp did not store the world file in the GeoTIFF",
                                   error));
    DeleteFile(tif);
}

void TExportPipeline::BuildControlPointGeoTiff(const TControlPoints& fitted, const TCrs& crs)
{
    const std::string tif = TemporaryFile(".tif");
    const std::string tmp = TemporaryFile(".tmp");
    const std::string keys = TemporaryFile(".txt");
    DeleteLeftover(tmp);
    WriteTextFile(keys, GeoKeyMetadataText(crs, fitted));
    RunConverter("geotifcp", {"-c", "packbits", "-g", keys, tif, tmp}, tmp);
    DeleteFile(keys);
    TGeoTiffPlacement placement;
    std::string error;
    if (!ReadGeoTiffPlacement(tmp, placement, error) || !TiePointsMatch(placement, fitted))
        throw Exception(WithDetail("The converter geotifcp did not store the control points in the GeoTIFF",
                                   error));
    DeleteFile(tif);
}

void TExportPipeline::BuildDecodedGeoTiff(const TExportSource& source, const TAffineTransform* written,
                                          const TControlPoints& fitted, const TCrs& crs)
{
    const std::string tmp = TemporaryFile(".tmp");
    DeleteLeftover(tmp);
    const std::unique_ptr<TGraphic> picture = LoadPicturePixels(source.FileName);
    TGeoTiffContent content;
    content.Transform = written;
    if (!written)
        content.TiePoints = fitted;
    content.Crs = crs;
    WriteBitmapGeoTiff(picture->ViewBitmap(), tmp, content);
    TGeoTiffPlacement placement;
    std::string error;
    if (!ReadGeoTiffPlacement(tmp, placement, error) ||
        !(written ? PlacementMatches(placement, *written) : TiePointsMatch(placement, fitted)))
        throw Exception(WithDetail("The GeoTIFF written does not carry its placement", error));
}

void TExportPipeline::WarpGeoTiff(const TFitResult& fit, const TCrs& crs, const TOutputChoices& choices)
{
    const std::string tmp = TemporaryFile(".tmp");
    const std::string warped = TemporaryFile(".wrp");
    const std::string vrt = TemporaryFile(".vrt");
    const std::string cutline = TemporaryFile(".geojson");
    DeleteLeftover(warped);
    // Nearest neighbour, the default, keeps every pixel a colour of the
    // scan, palette scans included.
    std::vector<std::string> arguments = {"-q", "-of", "GTiff", "-r", choices.Resampling, "-co", "COMPRESS=PACKBITS"};
    if (!choices.ClipGeometry.empty()) {
        WriteTextFile(cutline, CutlineText(choices.ClipGeometry, crs));
        // Cropped to the outline's own bounds, which gdalwarp keeps exactly.
        const TMapBounds bounds = GeometryBounds(choices.ClipGeometry);
        arguments.insert(arguments.end(), {"-cutline", cutline, "-te", ShortestText(bounds.West),
                                           ShortestText(bounds.South), ShortestText(bounds.East),
                                           ShortestText(bounds.North), "-dstalpha"});
    }
    std::string source = tmp;
    // gdalwarp fits the polynomials and the spline to the tie points as we
    // do; any other fit that is not affine is handed over sampled on a grid,
    // which a spline through the samples follows.
    const std::string_view own = FindFitMethod(fit.Method).WarpOptions;
    if (!own.empty()) {
        std::istringstream words{std::string(own)};
        for (std::string word; words >> word;)
            arguments.push_back(word);
    } else if (!fit.WorldFile) {
        TGeoTiffPlacement placement;
        std::string error;
        if (!ReadGeoTiffPlacement(tmp, placement, error))
            throw Exception(WithDetail("Cannot read the GeoTIFF to warp", error));
        DeleteLeftover(vrt);
        std::vector<std::string> grid = {"-q", "-of", "VRT"};
        if (crs.Given())
            grid.insert(grid.end(), {"-a_srs", crs.Id()});
        // GDAL counts pixels and lines from the picture's corner.
        for (int j = 0; j <= WarpGridSteps; ++j) {
            for (int i = 0; i <= WarpGridSteps; ++i) {
                const double pixel = static_cast<double>(placement.Width) * i / WarpGridSteps;
                const double line = static_cast<double>(placement.Height) * j / WarpGridSteps;
                const TMapPosition at = fit.Model->Map(pixel - 0.5, line - 0.5);
                grid.insert(grid.end(), {"-gcp", ShortestText(pixel), ShortestText(line), ShortestText(at.East),
                                         ShortestText(at.North)});
            }
        }
        grid.insert(grid.end(), {tmp, vrt});
        RunConverter("gdal_translate", grid, vrt);
        source = vrt;
        arguments.push_back("-tps");
    }
    arguments.insert(arguments.end(), {source, warped});
    RunConverter("gdalwarp", arguments, warped);
    if (source == vrt)
        DeleteFile(vrt);
    if (!choices.ClipGeometry.empty())
        DeleteFile(cutline);
}

void TExportPipeline::MakeCog(const TAffineTransform* written, const TControlPoints& fitted, bool warped)
{
    const std::string cog = TemporaryFile(".cog");
    for (const std::string& file : warped ? std::vector{TemporaryFile(".tmp"), TemporaryFile(".wrp")}
                                          : std::vector{TemporaryFile(".tmp")}) {
        DeleteLeftover(cog);
        RunConverter("gdal_translate", {"-q", "-of", "COG", "-co", "COMPRESS=DEFLATE", "-co", "OVERVIEWS=AUTO", file, cog},
                     cog);
        TGeoTiffPlacement placement;
        std::string error;
        const bool placed = ReadGeoTiffPlacement(cog, placement, error);
        // The warped copy is north-up in its own grid; the GeoTIFF keeps the fit.
        if (!placed || (file == TemporaryFile(".tmp") &&
                        !(written ? PlacementMatches(placement, *written) : TiePointsMatch(placement, fitted))))
            throw Exception(WithDetail("The converter gdal_translate did not keep the placement in the COG", error));
        RenameDurably(cog, file);
    }
}

void TExportPipeline::PlaceGeoTiff(bool withWorldFile, bool warped)
{
    const std::string targetTif = FTargetDir + FBaseName + ".tif";
    const std::string targetTfw = FTargetDir + FBaseName + ".tfw";
    const std::string targetWarped = FTargetDir + FBaseName + "_warped.tif";
    CheckReplaceable(targetTif);
    CheckReplaceable(targetTfw);
    if (warped)
        CheckReplaceable(targetWarped);
    // The converters' outputs go to the disk before they get their names;
    // the world file is synced as it is written.
    SyncFile(TemporaryFile(".tmp"));
    if (warped)
        SyncFile(TemporaryFile(".wrp"));
    RenameDurably(TemporaryFile(".tmp"), targetTif);
    if (withWorldFile) {
        RenameDurably(TemporaryFile(".tfw"), targetTfw);
    } else {
        // A world file left there would place the GeoTIFF over its own points.
        DeleteLeftover(targetTfw);
        SyncFolder(FolderOf(targetTfw));
    }
    if (warped)
        RenameDurably(TemporaryFile(".wrp"), targetWarped);
}

void TExportPipeline::MakeJgw(const TCrs& crs, const std::string& imageExtension)
{
    const std::string target = FTargetDir + FBaseName + ".jgw";
    const std::string prj = FTargetDir + FBaseName + ".prj";
    const std::string aux = FTargetDir + FBaseName + imageExtension + ".aux.xml";
    CheckReplaceable(target);
    if (crs.Given()) {
        CheckReplaceable(prj);
        CheckReplaceable(aux);
        // Written whole under temporary names first, so that a full disk
        // leaves the files of an earlier save as they were.
        WriteTextFile(TemporaryFile(".prj"), crs.EsriWkt + "\n");
        WriteTextFile(TemporaryFile(".xml"), PamAuxXmlText(crs));
    }
    RenameDurably(TemporaryFile(".tfw"), target);
    if (crs.Given()) {
        RenameDurably(TemporaryFile(".prj"), prj);
        RenameDurably(TemporaryFile(".xml"), aux);
    }
}

void TExportPipeline::RemoveTemporaries() noexcept
{
    for (const char* extension : TemporaryExtensions)
        ::unlink(TemporaryFile(extension).c_str());
}

std::string WriteWorldFile(const TSaveRequest& request, TExportPipeline& pipeline)
{
    pipeline.SplitTargetName(request.TargetFileName);
    const bool worldFile = request.Fit.WorldFile;
    const std::string text = worldFile ? WorldFileText(request.Fit) : std::string();
    if (request.TargetFilterIndex == TTargetFilter::TiffTfw)
        pipeline.CheckSource(request.Source);

    if (worldFile)
        WriteTextFile(pipeline.TemporaryFile(".tfw"), text);
    try {
        if (request.TargetFilterIndex == TTargetFilter::TiffTfw) {
            TAffineTransform written;
            if (worldFile)
                ParseWorldFileText(text, written);
            // A picture no converter takes is written from its decoded pixels.
            if (request.Source.Format == TSourceFormat::None) {
                pipeline.BuildDecodedGeoTiff(request.Source, worldFile ? &written : nullptr,
                                             FittedPoints(request.Points), request.Crs);
            } else {
                pipeline.ConvertSource(request.Source);
                if (worldFile)
                    pipeline.BuildGeoTiff(written, request.Crs);
                else
                    pipeline.BuildControlPointGeoTiff(FittedPoints(request.Points), request.Crs);
            }
            if (request.Warp)
                pipeline.WarpGeoTiff(request.Fit, request.Crs, request.Outputs);
            if (request.Outputs.Cog)
                pipeline.MakeCog(worldFile ? &written : nullptr, FittedPoints(request.Points), request.Warp);
            pipeline.PlaceGeoTiff(worldFile, request.Warp);
        } else if (request.TargetFilterIndex == TTargetFilter::JGW) {
            pipeline.MakeJgw(request.Crs, ImageExtension(request.Source.FileName));
        }
    } catch (...) {
        pipeline.RemoveTemporaries();
        throw;
    }
    return text;
}

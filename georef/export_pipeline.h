#pragma once
// Save after its dialog: the world file under its temporary name, the source
// image turned into a GeoTIFF by the external converters, and the results
// moved to their final names. An existing target is replaced only once its
// replacement is complete; a failure removes the temporaries and leaves the
// earlier files as they were.
#include "georef/converter.h"
#include "georef/crs.h"
#include "georef/dialog_filters.h"
#include "georef/output_choices.h"
#include "georef/save_request.h"
#include "georef/transforms.h"

#include <functional>
#include <string>
#include <vector>

class TExportPipeline {
public:
    // startDir: where the converters are looked for first.
    explicit TExportPipeline(std::string startDir);

    // Shows a notice that does not stop the pipeline by itself
    // ("Error starting module!"); the GUI puts it in a message box.
    std::function<void(const std::string&)> ShowMessage;
    // Runs while a converter works (the GUI keeps its windows live); unset,
    // the pipeline simply blocks until the converter ends.
    TConverterWait WhileWaiting;

    // TargetDir (with its trailing "/") and BaseName (the file part without
    // its last extension) of the chosen save name.
    void SplitTargetName(const std::string& fileName);
    const std::string& TargetDir() const { return FTargetDir; }
    const std::string& BaseName() const { return FBaseName; }
    // TargetDir + "temporar" + extension.
    std::string TemporaryFile(const std::string& extension) const;

    // Raises when the image itself is one of the temporary files, which the
    // pipeline would overwrite or delete.
    void CheckSource(const TExportSource& source) const;
    // temporar.tif from the source image by its format (bmp2tiff, jpg2bmp then
    // bmp2tiff, or a copy without the source's own GeoTIFF tags), replacing
    // any leftover.
    void ConvertSource(const TExportSource& source);
    // geotifcp with the world file, and with the system's GeoKeys when one is
    // given; checks that the GeoTIFF carries written, then moves it and the
    // world file to BaseName.tif and BaseName.tfw.
    void MakeGeoTiff(const TAffineTransform& written, const TCrs& crs = {});

    // The steps of MakeGeoTiff and its kin, so that a warped copy can be made
    // before anything gets its final name. BuildGeoTiff: temporar.tmp from
    // temporar.tif and the world file, checked. BuildControlPointGeoTiff: the
    // same with the fitted points as tie points instead, for a fit that no
    // world file states. WarpGeoTiff: temporar.wrp, temporar.tmp resampled
    // north-up by gdalwarp through the fit (through gdal_translate's virtual
    // file of the fit sampled on a grid, for a fit gdalwarp cannot compute
    // itself). PlaceGeoTiff: once every target is known to be replaceable,
    // the renames to BaseName.tif, BaseName.tfw with a world file (else an
    // earlier BaseName.tfw, which would contradict the new GeoTIFF, is
    // removed) and BaseName_warped.tif when warped.
    void BuildGeoTiff(const TAffineTransform& written, const TCrs& crs);
    void BuildControlPointGeoTiff(const TControlPoints& fitted, const TCrs& crs);
    void WarpGeoTiff(const TFitResult& fit, const TCrs& crs, const TOutputChoices& choices = {});
    // temporar.tmp (and temporar.wrp when warped) rewritten by
    // gdal_translate as Cloud Optimized GeoTIFFs, Deflate, with overviews;
    // the placement checked again.
    void MakeCog(const TAffineTransform* written, const TControlPoints& fitted, bool warped);
    // temporar.tmp written in-process from the source's decoded pixels, for
    // a picture that none of the converters takes, with the world file's
    // transformation (written) or else the fitted points; checked as above.
    void BuildDecodedGeoTiff(const TExportSource& source, const TAffineTransform* written,
                             const TControlPoints& fitted, const TCrs& crs);
    void PlaceGeoTiff(bool withWorldFile, bool warped);
    // Moves temporar.tfw to BaseName.jgw. With a system given, writes it
    // beside: BaseName.prj and the PAM file of the image the world file
    // belongs to, BaseName + imageExtension + ".aux.xml".
    void MakeJgw(const TCrs& crs = {}, const std::string& imageExtension = ".jpg");

    // Runs the converter name with arguments; raises an error naming it when
    // it cannot be started, does not end normally with status 0, or leaves
    // no output file.
    void RunConverter(const std::string& name, const std::vector<std::string>& arguments, const std::string& output);

    // Removes every temporary file; errors are ignored.
    void RemoveTemporaries() noexcept;

private:
    std::string FStartDir;
    std::string FTargetDir;
    std::string FBaseName;
};

// Everything Save does after its dialog and before its closing message:
// split the target, write the fit's world file as temporar.tfw and export by
// the target filter index. Returns the world-file text written. A fit that
// no world file states writes none: its GeoTIFF carries the fitted points.
std::string WriteWorldFile(const TSaveRequest& request, TExportPipeline& pipeline);

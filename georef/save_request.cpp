#include "georef/save_request.h"

#include "platform/exceptions.h"

#include <utility>

TSaveRequest BuildSaveRequest(TControlPoints points, const TGeorefOptions& options, std::string targetFileName,
                              TTargetFilter targetFilter, TExportSource source)
{
    TSaveRequest request;
    request.TargetFileName = std::move(targetFileName);
    request.TargetFilterIndex = targetFilter;
    request.Source = std::move(source);
    request.Crs = options.Crs;
    request.Points = std::move(points);
    if (options.Negate)
        NegateMapCoordinates(request.Points);
    request.Fit = FitControlPoints(options.Transform, request.Points);
    RequireResampling(options.Outputs.Resampling);
    request.Outputs = options.Outputs;
    // The save dialog's Cloud Optimized GeoTIFF is the GeoTIFF save made COG.
    if (request.TargetFilterIndex == TTargetFilter::Cog) {
        request.TargetFilterIndex = TTargetFilter::TiffTfw;
        request.Outputs.Cog = true;
    }
    request.Warp = options.Warp || !options.Outputs.ClipGeometry.empty();
    if (request.TargetFilterIndex == TTargetFilter::JGW && !request.Fit.WorldFile)
        throw Exception("A JGW world file can hold only an affine transformation, not " + request.Fit.Method +
                        "; save as TIFF + TFW for a GeoTIFF that carries the control points");
    if (request.TargetFilterIndex == TTargetFilter::JGW && request.Warp)
        throw Exception("A warped copy is a GeoTIFF; save as TIFF + TFW to get one");
    if (request.TargetFilterIndex == TTargetFilter::JGW && request.Outputs.Cog)
        throw Exception("A Cloud Optimized GeoTIFF is a GeoTIFF; save as TIFF + TFW to get one");
    return request;
}

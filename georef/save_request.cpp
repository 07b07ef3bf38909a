#include "georef/save_request.h"

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
    return request;
}

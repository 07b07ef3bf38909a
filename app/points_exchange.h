#pragma once
// The workbench's load and save of control points in the formats other
// programs use, chosen by the file's ending as the command line chooses
// them: IIIF georeference annotations (.json), GDAL VRT (.vrt) and PAM
// (.aux.xml) GCP lists, the web georeferencers' CSV (.csv); any other
// ending keeps the .points layout.
#include <string>
#include <vector>

class TForm1;
struct TSaveRequest;

// Loads fileName into the point list when its ending names one of those
// formats, refusing a point far outside the picture and warning of one
// just outside it; false (nothing done) for any other ending.
bool LoadExchangedPoints(TForm1& form, const std::string& fileName);

// Raises for a point of the file far outside the picture shown, naming it;
// the warnings for those just outside it, which ShowOutsideWarnings shows
// once the points are in place.
struct TGcpPoints;
std::vector<std::string> CheckLoadedPoints(const TForm1& form, const TGcpPoints& file, const std::string& fileName);
void ShowOutsideWarnings(const std::vector<std::string>& warnings);

// The text Save writes for the request's points, in the format of its
// target's ending, with the fit's residuals where the format holds them.
std::string SavedPointsText(const TForm1& form, const TSaveRequest& request);

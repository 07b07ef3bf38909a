#pragma once
// georef --auto-corners: the four corners of the sheet's map frame, found
// on the picture, as control points 1 to 4 with the map coordinates given
// for them.
#include "analysis/map_frame.h"
#include "analysis/printed_labels.h"
#include "georef/control_points.h"
#include "georef/crs.h"

#include <string>

// "X_UL,Y_UL,X_UR,Y_UR,X_LR,Y_LR,X_LL,Y_LL" (x east, y north; "." as the
// decimal point, since commas part the numbers), converted from cornersCrs
// into crs when cornersCrs is given. Raises EConvertError for a text that is
// not eight numbers.
std::vector<TMapXY> ReadCornerCoordinates(const std::string& text, const TCrs& cornersCrs, const TCrs& crs);

// The map frame found on the picture in the file; raises the picture's
// error, or the finder's refusal when it shows no frame it can trust.
TMapFrame FindImageFrame(const std::string& image);

// Points 1 to 4 at the frame's upper left, upper right, lower right and
// lower left corners of the image, with those map coordinates. Raises the
// finder's refusal when the picture shows no frame it can trust.
TControlPoints FrameCornerPoints(const std::string& image, const std::vector<TMapXY>& map);

// --auto-corners printed: the frame found on the picture, with the latitude
// and longitude printed beside its corners, read and checked. Raises the
// finder's refusal, or the labels' when they make no sheet.
struct TReadFrame {
    TMapFrame Frame;
    TPrintedCorners Labels;
};
TReadFrame ReadImageFrame(const std::string& image, const THemisphere& hemisphere);

// Points 1 to 4 at the frame's corners with the coordinates printed beside
// them (degrees, east and north positive), converted from cornersCrs into
// crs when cornersCrs is given.
TControlPoints PrintedCornerPoints(const std::string& image, const THemisphere& hemisphere, const TCrs& cornersCrs,
                                   const TCrs& crs);

// The value of --hemisphere: "N", "S", "E", "W" or one of each ("NE", "SW").
THemisphere ReadHemisphereOption(const std::string& text);

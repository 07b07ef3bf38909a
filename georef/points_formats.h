#pragma once
// Control points exchanged with other programs, in the layouts they use:
// the GIS georeferencers' .points, IIIF georeference annotations, GDAL's
// VRT and PAM (.aux.xml) GCP lists, the web georeferencers' CSV and the
// link tables of desktop GIS. Each reader names the file, the place in it
// and the value it cannot use; the points come back in our convention
// (integer pixel positions are pixel centres).
#include "georef/crs.h"
#include "georef/fit_methods.h"
#include "georef/gcp_points_file.h"

#include <span>
#include <string>

enum class TPointsFormat { Gcp, Annotation, Vrt, Pam, Csv, LinkTable };

struct TPointsFormatInfo {
    TPointsFormat Format;
    const char* Name;       // for --points-format
    const char* Extension;  // the file name's ending that chooses it; "": chosen by name only
    const char* Description;
};

// Every format, in the order the help lists them.
std::span<const TPointsFormatInfo> PointsFormats();

// The format called name, or (name empty) the one the file name's ending
// chooses. Raises naming the name or the file when there is none.
TPointsFormat ChoosePointsFormat(const std::string& fileName, const std::string& name = {});
// The format the file's ending names, else the one called name, else the
// .points layout: so that one name serves a file read and one written.
TPointsFormat PointsFormatOrGcp(const std::string& fileName, const std::string& name = {});

// The picture the points belong to, which some formats describe.
struct TPointsPicture {
    std::string FileName;  // absolute
    int Width = 0;
    int Height = 0;
};

// The points of a file's text. Formats in WGS 84 longitude and latitude
// (annotations, CSV) are converted into crs when it is given; points of a
// file naming another system than crs are converted into it. The result's
// Crs is the system the points are in (crs when given).
TGcpPoints ParsePoints(TPointsFormat format, const std::string& text, const std::string& fileName,
                       const TCrs& crs = {});
TGcpPoints ReadPoints(TPointsFormat format, const std::string& fileName, const TCrs& crs = {});

// The file's text for the points, in system crs (which the WGS 84 formats
// need, to convert from); transform the fit's name, for the formats that
// state one; fit, when given, the residuals for the formats that hold them.
std::string PointsText(TPointsFormat format, const TControlPoints& points, const TCrs& crs,
                       const std::string& transform, const TPointsPicture& picture, const TFitResult* fit = nullptr);

// The readers and writers of each format, behind the functions above. The
// WGS 84 formats read and write longitude as East and latitude as North.
TGcpPoints ParseAnnotation(const std::string& text, const std::string& fileName);
std::string AnnotationText(const TControlPoints& lonLat, const std::string& transform,
                           const TPointsPicture& picture);
TGcpPoints ParseGcpListXml(const std::string& text, const std::string& fileName);
std::string VrtText(const TControlPoints& points, const TCrs& crs, const TPointsPicture& picture);
std::string PamText(const TControlPoints& points, const TCrs& crs);
TGcpPoints ParseWebCsv(const std::string& text, const std::string& fileName);
std::string WebCsvText(const TControlPoints& lonLat);
TGcpPoints ParseLinkTable(const std::string& text, const std::string& fileName);
std::string LinkTableText(const TControlPoints& points);

#pragma once
// Coordinate reference systems, looked up in PROJ's database: what the user
// types (an EPSG code or a name), and the texts that carry a system into the
// outputs (GeoKeys for the GeoTIFF converter, a PAM .aux.xml and a .prj
// beside an image with a world file).
#include "georef/control_points.h"

#include <string>

struct TCrs {
    int Code = 0;             // EPSG code; 0: no system given
    std::string Name;         // full name, as PROJ's database gives it
    bool Geographic = false;  // latitude and longitude rather than projected
    std::string Wkt;          // WKT 1 as GDAL writes it in a .aux.xml
    std::string EsriWkt;      // WKT 1 in the ESRI dialect, for a .prj
    std::string Wkt2;         // WKT 2 (2019), one line, for a .points file

    bool Given() const { return Code != 0; }
    // "EPSG:31467"
    std::string Id() const;
};

// Looks up "EPSG:NNNN", a bare number, or a system's full name (an exact
// match, case ignored). Raises an Exception naming the text when PROJ knows
// no such system, or when it is neither projected nor geographic (only those
// go into GeoTIFF keys). An empty text gives the empty TCrs.
TCrs LookupCrs(const std::string& text);

// The system a WKT text describes (any version PROJ reads), matched to its
// EPSG code; raises when the WKT cannot be read or matches no EPSG system.
TCrs CrsFromWkt(const std::string& wkt);

// GeoKeys as geotifcp -g reads them: model type, raster type pixel-is-area,
// the citation and the EPSG code. No tagged information: the placement comes
// from the world file.
std::string GeoKeyMetadataText(const TCrs& crs);

// The same with the points as tie points in the tagged part, for a
// transformation that no world file states: each its raster position
// counted from the picture's top-left corner, as pixel-is-area has it (the
// centre of pixel (c, r) is (c + 0.5, r + 0.5)), then its map position.
// Without a system given, the raster type is the only key.
std::string GeoKeyMetadataText(const TCrs& crs, const TControlPoints& tiePoints);

// A PAM sidecar (IMAGE.aux.xml) holding the system, read by GDAL and QGIS.
std::string PamAuxXmlText(const TCrs& crs);

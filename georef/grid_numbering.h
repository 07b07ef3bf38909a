#pragma once
// The map coordinates of a printed grid's crossings from their places in
// the lattice: the spacing and a known crossing's coordinates as typed (in
// degrees for a geographic grid, decimal or as degrees, minutes and
// seconds), each crossing's coordinates from its place, converted into the
// system written when the grid's differs. The command line's grid command
// and the workbench's Grid action read them alike.
#include "georef/crs.h"

#include <string>
#include <vector>

// An angle in decimal degrees or as degrees, minutes and seconds: 83°50'30",
// 83d50m30s, 5' or 30", with N, E, S or W after it (S and W negative);
// false when the text is neither.
bool TryParseAngle(const std::string& text, double& degrees);

// A value of the grid's system: a number, or with degrees an angle. Raises
// EConvertError "'TEXT' is not a number" (or "... an angle in degrees ...").
double ReadGridValue(const std::string& text, bool degrees);

struct TGridSpacing {
    double East = 0;
    double North = 0;
};
// "D" for both directions or "D,D_NORTH"; raises for anything else and for
// a spacing not above 0.
TGridSpacing ReadGridSpacing(const std::string& text, bool degrees);

// The ratio of the grid's steps on the sheet, east over north: the
// spacing's, and for a graticule (degrees) times the cosine of the known
// crossing's latitude, as a conformal sheet shows it.
double GridStepRatio(TGridSpacing spacing, double knownNorth, bool degrees);

// A crossing's place: lattice steps east and north of the known crossing.
struct TGridPlace {
    int East = 0;
    int North = 0;
};
// The coordinates of every place in crs (in gridCrs when crs is not given
// or the same); raises naming the point PROJ cannot convert.
std::vector<TMapXY> GridMapCoordinates(const std::vector<TGridPlace>& places, TMapXY known, TGridSpacing spacing,
                                       const TCrs& gridCrs, const TCrs& crs);

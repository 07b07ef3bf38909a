#pragma once
// Every crossing of a sheet's printed grid or graticule, numbered by its
// place in the lattice from one known crossing.
//
// The known crossing is snapped first; its two lines give the grid's
// directions, and the steps between crossings in pixels are measured along
// both. The lattice then grows outward from the known crossing: each next
// crossing is predicted from the crossings already found around it (so that
// gently curved lines, converging meridians and paper distortion are
// followed), snapped, and kept only when the snap found two lines running as
// the grid's lines run there. At the end every crossing is checked against
// its lattice neighbours; one that stands apart (a road crossing a grid
// line, a symbol on the crossing) is refused, never numbered. Each line is
// then followed from crossing to crossing on the sheet itself: a crossing
// that lies beside a line followed to it (the snap took another grid's line
// a few pixels beside this one's) is refused too; so the few crossings of a
// graticule, too few to check against each other, are checked against
// their lines. A lattice whose
// steps change across the sheet, or that does not bring the second known
// crossing to a whole number of steps, is refused with the reason.
//
// Lattice places: East counts lines to the image's right and North lines
// up the image, unless a second known crossing says otherwise.
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TBitmap;

struct TGridSecondKnown {
    double Column = 0;
    double Row = 0;
    // Its place from the first in grid steps, from the two crossings' map
    // coordinates (need not be whole: the finder says when they are not).
    double StepsEast = 0;
    double StepsNorth = 0;
};

struct TGridRequest {
    double Column = 0; // the known crossing, picked; integers are pixel centres
    double Row = 0;
    std::optional<TGridSecondKnown> Second;
    // Read the map frame and keep to it (else the whole picture).
    bool UseFrame = true;
    // The steps' ratio in pixels, east over north, that the spacing gives
    // (its own ratio; for a graticule times the cosine of the latitude);
    // steps that disagree by more than a tenth are not the grid's. 0: not known.
    double StepRatio = 0;
};

struct TGridCrossing {
    int East = 0; // lattice place from the known crossing
    int North = 0;
    double Column = 0;
    double Row = 0;
    double Sigma = 0; // the snap's standard error, pixels
};

enum class TGridRefusal {
    NotGridLines,   // the snap found lines running otherwise than the grid's
    Neighbours,     // stands apart from its lattice neighbours
    Unchecked,      // too few neighbours found to check it against
    OffItsLines,    // lies beside a line followed to it from a neighbour
};

struct TRefusedCrossing {
    int East = 0;
    int North = 0;
    double Column = 0; // where the snap put it
    double Row = 0;
    TGridRefusal Reason = TGridRefusal::Neighbours;
};

struct TGrid {
    bool Found = false;
    std::string Refusal; // when not found: why, as a sentence
    double KnownColumn = 0; // the known crossing as snapped
    double KnownRow = 0;
    // Steps between neighbouring crossings along the row-wise lines (from one
    // line of constant East to the next) and along the column-wise lines.
    double StepEast = 0;
    double StepNorth = 0;
    bool Framed = false; // kept inside a map frame found on the sheet
    int LinesEast = 0;   // lines of constant East with two crossings numbered or more
    int LinesNorth = 0;
    std::vector<TGridCrossing> Crossings; // the known crossing first
    std::vector<TRefusedCrossing> Refused;
    int Unsnapped = 0; // places inside the face where no crossing was found
};

// progress is told after each wave of the lattice how many crossings it
// holds so far (on the finder's thread).
TGrid FindGrid(const TBitmap& bitmap, const TGridRequest& request,
               const std::function<void(size_t crossings)>& progress = {});

// "its lines run otherwise than the grid's", ...
const char* GridRefusalText(TGridRefusal reason);

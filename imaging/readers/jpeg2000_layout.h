#pragma once
// The parts of a JPEG 2000 file the reader needs before it decodes: the
// boxes of a .jp2/.jpf file (image header, colour, palette, channel mapping
// and definitions, where the codestream lies) and the codestream's size
// marker and tile-parts. A bare codestream (.j2k, .j2c) has no boxes.
#include "platform/streams.h"

#include <cstdint>
#include <vector>

struct TJ2KComponent {
    uint8_t Precision = 0; // 1..38 bits
    bool Signed = false;
    uint8_t DX = 1, DY = 1; // subsampling on the reference grid
};

// The size marker: the image area and the tile grid on the reference grid.
struct TJ2KSize {
    uint32_t X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
    uint32_t TileWidth = 0, TileHeight = 0, TileX0 = 0, TileY0 = 0;
    std::vector<TJ2KComponent> Components;

    uint32_t Width() const { return X1 - X0; }
    uint32_t Height() const { return Y1 - Y0; }
    uint64_t TilesAcross() const;
    uint64_t TilesDown() const;
};

// Bytes the file holds of each tile's data, from the tile-part markers.
struct TJ2KTileData {
    uint64_t Held = 0;
    bool Cut = false; // a tile-part of it runs past the end of the codestream
};

struct TJP2PaletteBox {
    uint16_t Entries = 0;
    std::vector<uint8_t> Depths;  // bits per column, 1..38 (signed ones refused)
    std::vector<uint32_t> Values; // Entries x columns, entry by entry
};

// One channel of the picture: a component shown as it is or through a
// palette column.
struct TJP2Channel {
    uint16_t Component = 0;
    bool ThroughPalette = false;
    uint8_t Column = 0;
};

struct TJP2ChannelDefinition {
    uint16_t Channel = 0;
    uint16_t Type = 0;        // 0 colour, 1 opacity, 2 premultiplied opacity
    uint16_t Association = 0; // 1.. the colour it belongs to, 0 the whole image
};

struct TJP2Layout {
    bool Boxed = false;           // a .jp2/.jpf file; false for a bare codestream
    uint32_t ColourSpace = 0;     // enumerated colour space: 16 sRGB, 17 grey, 18 sYCC; 0 none or ICC
    bool HasPalette = false;
    TJP2PaletteBox Palette;
    std::vector<TJP2Channel> Mapping; // empty without a component mapping box
    std::vector<TJP2ChannelDefinition> Definitions;
    int64_t CodestreamStart = 0;  // from the stream's start
    int64_t CodestreamLength = 0;
};

// The signature box or the codestream's first two markers at the position.
bool IsJP2File(TStream& stream);
bool IsJ2KCodestream(TStream& stream);

// Reads the boxes of a file starting at start, or takes the whole rest as
// a codestream when it has none. Raises EInvalidGraphic with the reader's
// message when a box is malformed or no codestream is found.
TJP2Layout ReadJP2Layout(TStream& stream, int64_t start, const char* name);
// Reads the codestream's size marker; raises as above when it is missing or
// inconsistent.
TJ2KSize ReadJ2KSize(TStream& stream, const TJP2Layout& layout, const char* name);
struct TJ2KTileParts {
    std::vector<TJ2KTileData> Tiles; // by tile index
    std::vector<uint16_t> Order;     // the tiles in the order the codestream begins them
    // The tile-part markers that claim more than the codestream holds, in
    // the order they begin, found wherever they lie (the decoder, past a
    // marker it does not know, may find some that the walk steps over):
    // where in the stream and by how many bytes past its end.
    struct TOverrun {
        int64_t At = 0;
        uint64_t Bytes = 0;
    };
    std::vector<TOverrun> Overruns;
    // The main header holds the packet headers of every tile (a PPM
    // marker): the decoder reads them in turn as it decodes the tiles, so
    // a decoder that skips tiles reads the wrong ones.
    bool PackedHeaders = false;
};
// The bytes held of each tile, walking the tile-part markers until the
// codestream ends.
TJ2KTileParts ReadJ2KTileData(TStream& stream, const TJP2Layout& layout, const TJ2KSize& size);

#pragma once
// TJPEG2000Graphic: JPEG 2000 files (.jp2, .jpf) and bare codestreams
// (.j2k, .j2c), decoded by OpenJPEG on every core the thread setting allows,
// tile by tile straight into the bitmap's rows. Grey loads as an 8-bit grey
// image (a grey image's alpha is dropped, as for PNG), three colour channels
// as true colour, with alpha as true colour with alpha, a palette of up to
// 256 8-bit entries as an indexed image; deeper samples are reduced to 8
// bits. The colour boxes decide which component is which; an ICC profile is
// not applied.
#include "imaging/raster_graphic.h"
#include "imaging/readers/jpeg2000_layout.h"

#include <cstdint>

class TJPEG2000Graphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TJPEG2000Graphic)
public:
    TJPEG2000Graphic();
    ~TJPEG2000Graphic() override;

    // True for the signature box of a .jp2/.jpf file or the first two
    // markers of a codestream. The position is left where it was.
    static bool CanLoadStream(TStream& stream);
    // False when the stream is neither; a malformed box or size marker
    // raises the reader's invalid-format error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "JPEG 2000"; }

    // Resolution levels the next loads leave out: 0 (the default) gives the
    // full picture, n one 2^n times smaller each way, as far as the file has
    // levels. A reduced decode costs a fraction of the full one: a first look.
    void SetReduction(unsigned levels) { FReduction = levels; }
    unsigned Reduction() const { return FReduction; }
    // The levels the last load left out: the reduction asked for, or fewer
    // where the file has fewer.
    unsigned AppliedReduction() const { return FApplied; }

    // No pixels only when not one tile could be decoded: a tile cut short
    // still decodes whole, at a lower quality.
    bool EndedInFirstRow() const override { return EarlyEndRow() == 0 && FTilesDecoded == 0; }

private:
    // Which decoded component feeds each bitmap channel.
    enum class TKind { Grey, RGB, RGBA, Palette };
    struct TChannels {
        TKind Kind = TKind::Grey;
        uint16_t Component[4] = {}; // grey or index; or red, green, blue, alpha
    };

    TChannels ChooseChannels() const;
    void DecodeTiles(TStream& stream, const TChannels& channels);

    TJP2Layout FLayout;
    TJ2KSize FSize;
    unsigned FReduction = 0;
    unsigned FApplied = 0;
    uint64_t FTilesDecoded = 0;
};

#pragma once
// TPPMGraphic: the portable any-maps P1 to P6 (bitmap, grey map and pixel
// map, each as ASCII numbers or raw bytes). The magic is the first two bytes;
// width, height and (except for bitmaps) the maximum value follow as decimal
// numbers separated by anything that is not a digit, "#" starting a comment
// that runs to the end of its line. All reading goes through one 4096-byte
// buffer. Samples are taken as they are, whatever the maximum value, except
// that a maximum above 255 makes them 16-bit samples, which the colour
// manager reduces to 8 bits.
#include "imaging/raster_graphic.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TPPMGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TPPMGraphic)
public:
    TPPMGraphic() = default;

    // True when more than 10 bytes remain, the first is "P" and the second
    // one of the digits 1 to 6. The position is left where it was.
    static bool CanLoadStream(TStream& stream);
    // Reads the header up to the first pixel. False when the first byte is
    // not "P" or the type is not 1 to 6; a second byte that is not a digit
    // raises the integer conversion error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "PBM, PGM or PPM"; }

private:
    static constexpr uint32_t BufferSize = 4096;

    // The next byte; raises "Stream read error in PPM file." when the stream
    // holds no more.
    uint8_t NextByte();
    // The next byte without taking it; -1 at the end of the stream.
    int PeekByte();
    // The next decimal number; anything before it that is not a digit, and
    // comments, are passed over, and the byte that ends it is taken.
    uint32_t ReadNumber();
    // The rest of the current line (a CR LF pair ends it as one), without the
    // part from "#" on.
    std::string ReadHeaderLine();
    // The next digit, passing over what ReadNumber passes over.
    uint8_t NextDigit();
    void ReadBytes(uint8_t* target, size_t count);
    bool FillBuffer();

    void ReadPlainBits(uint8_t* line);
    void ReadPlainSamples(uint8_t* line, uint32_t samples);
    void ReadRawRGB(uint8_t* line);

    std::array<uint8_t, BufferSize> InputBuffer{};
    uint32_t InputIndex = BufferSize; // next unread byte
    uint32_t InputCount = 0;          // bytes the last read brought into the buffer
    uint8_t MapType = 0;              // the digit of the magic, 1 to 6
    uint32_t MaxValue = 0;
    std::vector<uint8_t> RowBuffer;   // raw pixel rows and 16-bit rows, during a load
};

#pragma once
// JPEG-compressed TIFF strips (compression 7), over libjpeg.
//
// ExpandStart creates the decompressor and reads the JPEGTables stream when
// the file has one ("Bogus JPEG tables field." unless it holds tables only).
// Expand decodes one strip: it reads the strip's JPEG header, checks it
// against the image properties (size, component count, precision, sampling
// factors, in that order) and writes UnpackedSize / RowBytes rows to the
// target, RowBytes apart. YCbCr data come out as blue-green-red, other
// three-component data are reordered to blue-green-red, anything else is
// delivered as stored. A strip that ends early shows "JPEG decompression
// error. Unexpected end of input." through the JPEG warning hook (once per
// strip) and decodes as far as its data reach. Library errors raise EJPEG
// ("JPEG error #N"); the checks raise EGraphicCompression. Neither pointer
// is advanced. ExpandFinish destroys the decompressor.
//
// The decoder reads the properties at every call: Width, Height, RowIndex
// (the strip's first row), RowsPerStrip, RowBytes, SamplesPerPixel,
// BitsPerSample, PlanarConfiguration, PixelScheme, YCbCrSubSampling and
// JPEGTables. They must outlive the decoder.
#include "imaging/compression/decoder.h"

#include <memory>

// Tables a strip defines stay in its decoder for the strips after it. How
// a strip's data stand to that: None defines no table (it decodes alike
// after any strip that defines none); Own is one scan that defines every
// table it uses before using it (it decodes alike after any strip); Other
// is anything else, or data that are not plainly one of those.
enum class TJPEGTableUse { None, Own, Other };
TJPEGTableUse JPEGTableUse(const uint8_t* data, size_t size);

struct TImageProperties;
class TJPEGDecompressor;

class TTIFFJPEGDecoder : public TDecoder {
public:
    explicit TTIFFJPEGDecoder(const TImageProperties* Properties);
    ~TTIFFJPEGDecoder() override;

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void ExpandFinish() override;
    void ExpandStart() override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

private:
    const TImageProperties* FProperties;
    std::unique_ptr<TJPEGDecompressor> FJPEG;
    uint16_t FHorizontalSampling = 1;
    uint16_t FVerticalSampling = 1;
};

// bmp2tiff [-c packbits|lzw|zip|none] IN.bmp OUT.tif
// Writes a BMP (any the platform layer reads) as a strip TIFF. Palette images
// stay indexed with their colour map; direct-colour images become 8-bit RGB,
// or RGBA when the bitmap carries alpha. Exit status 1 on any error, with the
// message on stderr and no output file left behind.
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int CollectError(TIFF*, void* userData, const char*, const char* format, va_list args)
{
    auto* error = static_cast<std::string*>(userData);
    if (error->empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        *error = text;
    }
    return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

bool ParseCompression(const std::string& name, uint16_t& compression)
{
    if (name == "packbits")
        compression = COMPRESSION_PACKBITS;
    else if (name == "lzw")
        compression = COMPRESSION_LZW;
    else if (name == "zip")
        compression = COMPRESSION_ADOBE_DEFLATE;
    else if (name == "none")
        compression = COMPRESSION_NONE;
    else
        return false;
    return true;
}

bool IsIndexed(TBitmapFormat format)
{
    return format == bf1Bit || format == bf4Bit || format == bf8Bit;
}

class TTiffWriter {
public:
    TTiffWriter(const std::string& fileName) : FFileName(fileName)
    {
        std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                              &TIFFOpenOptionsFree);
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &CollectError, &FError);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &IgnoreWarning, nullptr);
        FTif = TIFFOpenExt(fileName.c_str(), "w", options.get());
        if (!FTif)
            Fail();
    }
    ~TTiffWriter()
    {
        if (FTif) {
            TIFFClose(FTif);
            ::unlink(FFileName.c_str());
        }
    }
    TTiffWriter(const TTiffWriter&) = delete;
    TTiffWriter& operator=(const TTiffWriter&) = delete;

    TIFF* Handle() { return FTif; }

    void Check(int ok)
    {
        if (!ok)
            Fail();
    }

    // Flushes and closes; the file stays only when this succeeds.
    void Finish()
    {
        const bool flushed = TIFFFlush(FTif) == 1;
        TIFFClose(FTif);
        FTif = nullptr;
        if (!flushed || !FError.empty()) {
            ::unlink(FFileName.c_str());
            Fail();
        }
    }

private:
    [[noreturn]] void Fail()
    {
        throw Exception(FError.empty() ? "Cannot write " + FFileName : FFileName + ": " + FError);
    }

    std::string FFileName;
    std::string FError;
    TIFF* FTif = nullptr;
};

void WriteTiff(const TBitmap& bitmap, const std::string& fileName, uint16_t compression)
{
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    const TBitmapFormat format = bitmap.PixelFormat();
    const bool indexed = IsIndexed(format);
    const int bits = indexed ? bitmap.BitsPerPixel() : 8;
    const bool alpha = !indexed && format != bf24Bit && bitmap.AlphaPresent();
    const int samples = indexed ? 1 : alpha ? 4 : 3;

    TTiffWriter writer(fileName);
    TIFF* tif = writer.Handle();
    writer.Check(TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width)));
    writer.Check(TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height)));
    writer.Check(TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bits)));
    writer.Check(TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(samples)));
    writer.Check(TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG));
    writer.Check(TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT));
    writer.Check(TIFFSetField(tif, TIFFTAG_COMPRESSION, compression));
    writer.Check(TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, indexed ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB));
    if (alpha) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        writer.Check(TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra));
    }
    if (indexed) {
        const int entries = 1 << bits;
        std::vector<uint16_t> red(static_cast<size_t>(entries)), green(red), blue(red);
        for (int i = 0; i < entries; ++i) {
            const TPaletteEntry e = bitmap.PaletteColor(i);
            red[static_cast<size_t>(i)] = static_cast<uint16_t>(e.peRed * 257);
            green[static_cast<size_t>(i)] = static_cast<uint16_t>(e.peGreen * 257);
            blue[static_cast<size_t>(i)] = static_cast<uint16_t>(e.peBlue * 257);
        }
        writer.Check(TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()));
    }
    writer.Check(TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0)));

    const size_t rowBytes = indexed ? (static_cast<size_t>(width) * static_cast<size_t>(bits) + 7) / 8
                                    : static_cast<size_t>(width) * static_cast<size_t>(samples);
    std::vector<uint8_t> row(rowBytes);
    std::vector<uint32_t> argb(indexed ? 0 : static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = bitmap.ScanLine(y);
        if (indexed) {
            std::memcpy(row.data(), source, rowBytes);
        } else if (format == bf24Bit) {
            for (int x = 0; x < width; ++x) {
                row[3 * static_cast<size_t>(x)] = source[3 * x + 2];
                row[3 * static_cast<size_t>(x) + 1] = source[3 * x + 1];
                row[3 * static_cast<size_t>(x) + 2] = source[3 * x];
            }
        } else {
            bitmap.RowToARGB(y, 0, width, argb.data());
            uint8_t* out = row.data();
            for (const uint32_t p : argb) {
                *out++ = static_cast<uint8_t>(p >> 16);
                *out++ = static_cast<uint8_t>(p >> 8);
                *out++ = static_cast<uint8_t>(p);
                if (alpha)
                    *out++ = static_cast<uint8_t>(p >> 24);
            }
        }
        writer.Check(TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1);
    }
    writer.Finish();
}

int Usage()
{
    std::fprintf(stderr, "usage: bmp2tiff [-c packbits|lzw|zip|none] IN.bmp OUT.tif\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    uint16_t compression = COMPRESSION_NONE;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-c") {
            if (++i >= argc || !ParseCompression(argv[i], compression))
                return Usage();
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage();
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2)
        return Usage();

    try {
        TBitmap bitmap;
        TFileStream stream(files[0], fmOpenRead);
        try {
            bitmap.LoadFromStream(stream);
        } catch (const Exception& e) {
            throw Exception(files[0] + ": " + e.Message());
        }
        if (bitmap.Width() <= 0 || bitmap.Height() <= 0)
            throw EInvalidGraphic(files[0] + ": the image is empty");
        WriteTiff(bitmap, files[1], compression);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        return 1;
    }
    return 0;
}

#include "tools/cli/image_writers.h"

#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "tools/cli/cli_support.h"

#include <csetjmp>
#include <cstdint>
#include <png.h>
#include <vector>

namespace {

// Rows of the bitmap as 8-bit RGB or RGBA samples, one row at a time.
class TRowSource {
public:
    TRowSource(const TBitmap& bitmap, bool alpha)
        : FBitmap(bitmap), FAlpha(alpha), FARGB(static_cast<size_t>(bitmap.Width())),
          FRow(static_cast<size_t>(bitmap.Width()) * (alpha ? 4 : 3))
    {
    }

    const std::vector<uint8_t>& Row(int y)
    {
        FBitmap.RowToARGB(y, 0, FBitmap.Width(), FARGB.data());
        uint8_t* out = FRow.data();
        for (const uint32_t c : FARGB) {
            *out++ = static_cast<uint8_t>(c >> 16);
            *out++ = static_cast<uint8_t>(c >> 8);
            *out++ = static_cast<uint8_t>(c);
            if (FAlpha)
                *out++ = static_cast<uint8_t>(c >> 24);
        }
        return FRow;
    }

private:
    const TBitmap& FBitmap;
    bool FAlpha;
    std::vector<uint32_t> FARGB;
    std::vector<uint8_t> FRow;
};

void WriteRows(const TBitmap& bitmap, bool alpha, TOutputFile& file)
{
    if (bitmap.Empty())
        return;
    TRowSource rows(bitmap, alpha);
    for (int y = 0; y < bitmap.Height(); ++y) {
        const auto& row = rows.Row(y);
        file.Write(row.data(), row.size());
    }
}

void WritePPM(const TBitmap& bitmap, TOutputFile& file)
{
    file.Write("P6\n" + std::to_string(bitmap.Width()) + " " + std::to_string(bitmap.Height()) + "\n255\n");
    WriteRows(bitmap, false, file);
}

void WritePAM(const TBitmap& bitmap, TOutputFile& file)
{
    const bool alpha = BitmapHasAlpha(bitmap);
    file.Write("P7\nWIDTH " + std::to_string(bitmap.Width()) + "\nHEIGHT " + std::to_string(bitmap.Height()) +
               "\nDEPTH " + (alpha ? "4" : "3") + "\nMAXVAL 255\nTUPLTYPE " + (alpha ? "RGB_ALPHA" : "RGB") +
               "\nENDHDR\n");
    WriteRows(bitmap, alpha, file);
}

// libpng reports errors by longjmp; these callbacks record what went wrong
// and jump back to WritePNG, which turns it into an exception.
struct TPngState {
    TOutputFile* File = nullptr;
    int WriteErrno = 0;
    char Message[256] = {};
};

void PngError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<TPngState*>(png_get_error_ptr(png));
    std::snprintf(state->Message, sizeof state->Message, "%s", message);
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, png_size_t length)
{
    auto* state = static_cast<TPngState*>(png_get_io_ptr(png));
    state->WriteErrno = state->File->TryWrite(data, length);
    if (state->WriteErrno)
        png_error(png, "write failed");
}

void PngFlush(png_structp) {}

class TPngWriteStruct {
public:
    explicit TPngWriteStruct(TPngState& state)
    {
        FPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
        if (FPng)
            FInfo = png_create_info_struct(FPng);
        if (!FPng || !FInfo)
            throw EInvalidGraphic("Out of system resources");
    }
    ~TPngWriteStruct() { png_destroy_write_struct(&FPng, &FInfo); }
    TPngWriteStruct(const TPngWriteStruct&) = delete;
    TPngWriteStruct& operator=(const TPngWriteStruct&) = delete;

    png_structp Png() const { return FPng; }
    png_infop Info() const { return FInfo; }

private:
    png_structp FPng = nullptr;
    png_infop FInfo = nullptr;
};

void WritePNG(const TBitmap& bitmap, TOutputFile& file)
{
    // PNG has no empty image; writing one would make a file no reader takes.
    if (bitmap.Empty())
        throw EConvertError("Cannot write an empty image (" + std::to_string(bitmap.Width()) + " x " +
                            std::to_string(bitmap.Height()) + " pixels) as PNG");
    const bool alpha = BitmapHasAlpha(bitmap);
    TRowSource rows(bitmap, alpha);
    rows.Row(0); // takes the bitmap's memory now, outside libpng's jump region
    TPngState state;
    state.File = &file;
    TPngWriteStruct writer(state);
    png_structp png = writer.Png();
    png_infop info = writer.Info();
    if (setjmp(png_jmpbuf(png))) {
        if (state.WriteErrno)
            RaiseIOError(state.WriteErrno);
        throw EConvertError(std::string("PNG error: ") + state.Message);
    }
    png_set_write_fn(png, &state, PngWrite, PngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.Width()), static_cast<png_uint_32>(bitmap.Height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < bitmap.Height(); ++y)
        png_write_row(png, rows.Row(y).data());
    png_write_end(png, nullptr);
}

} // namespace

TImageFileKind ImageFileKindOf(const std::string& fileName)
{
    const std::string extension = LowerExtension(fileName);
    if (extension == "ppm")
        return TImageFileKind::PPM;
    if (extension == "pam")
        return TImageFileKind::PAM;
    if (extension == "png")
        return TImageFileKind::PNG;
    throw EConvertError("Unknown output file extension (." + PictureExtension(fileName) + ")");
}

bool BitmapHasAlpha(const TBitmap& bitmap)
{
    return bitmap.AlphaPresent() && bitmap.BitsPerPixel() == 32;
}

void WriteImageFile(TImageFileKind kind, const TBitmap& bitmap, TOutputFile& file)
{
    switch (kind) {
    case TImageFileKind::PPM:
        WritePPM(bitmap, file);
        break;
    case TImageFileKind::PAM:
        WritePAM(bitmap, file);
        break;
    case TImageFileKind::PNG:
        WritePNG(bitmap, file);
        break;
    }
}

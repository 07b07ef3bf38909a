// jpg2bmp IN.jpg OUT.bmp
// Decodes a JPEG with libjpeg and writes it as a bottom-up BMP: 8-bit with a
// grey palette for a greyscale JPEG, 24-bit otherwise (CMYK and YCCK are
// converted to RGB). Exit status 1 on any error, with the message on stderr
// and no output file left behind.
#include "platform/exceptions.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

namespace {

struct TErrorManager {
    jpeg_error_mgr Public;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info)
{
    auto* manager = reinterpret_cast<TErrorManager*>(info->err);
    info->err->format_message(info, manager->Message);
    std::longjmp(manager->Jump, 1);
}

// Corrupt-data warnings go to stderr; libjpeg goes on with what it has.
void EmitMessage(j_common_ptr info, int level)
{
    if (level >= 0 || info->err->num_warnings++ > 0)
        return;
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    std::fprintf(stderr, "warning: %s\n", text);
}

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

class TBmpWriter {
public:
    TBmpWriter(const std::string& fileName, uint32_t width, uint32_t height, bool grey)
        : FFileName(fileName), FHeight(height)
    {
        const uint64_t stride = (static_cast<uint64_t>(width) * (grey ? 8 : 24) + 31) / 32 * 4;
        const uint32_t paletteBytes = grey ? 256 * 4 : 0;
        const uint64_t bitsOffset = 14 + 40 + paletteBytes;
        const uint64_t fileSize = bitsOffset + stride * height;
        if (fileSize > 0xFFFFFFFFu || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
            throw Exception("The image is too large for a BMP file");
        FStride = static_cast<size_t>(stride);
        FBitsOffset = static_cast<long>(bitsOffset);

        std::vector<uint8_t> header;
        header.push_back('B');
        header.push_back('M');
        Put32(header, static_cast<uint32_t>(fileSize));
        Put32(header, 0);
        Put32(header, static_cast<uint32_t>(bitsOffset));
        Put32(header, 40);
        Put32(header, width);
        Put32(header, height); // positive: bottom-up
        Put16(header, 1);
        Put16(header, grey ? 8 : 24);
        Put32(header, 0); // BI_RGB
        Put32(header, static_cast<uint32_t>(stride * height));
        Put32(header, 2835); // 72 dpi
        Put32(header, 2835);
        Put32(header, grey ? 256 : 0);
        Put32(header, 0);
        for (uint32_t i = 0; grey && i < 256; ++i) {
            for (int c = 0; c < 3; ++c)
                header.push_back(static_cast<uint8_t>(i));
            header.push_back(0);
        }

        FFile.reset(std::fopen(fileName.c_str(), "wb"));
        if (!FFile)
            Fail(errno);
        Write(header.data(), header.size());
    }

    ~TBmpWriter()
    {
        if (FFile) {
            FFile.reset();
            ::unlink(FFileName.c_str());
        }
    }
    TBmpWriter(const TBmpWriter&) = delete;
    TBmpWriter& operator=(const TBmpWriter&) = delete;

    size_t Stride() const { return FStride; }

    // Row y counted from the top; BMP stores the bottom row first.
    void WriteRow(uint32_t y, const uint8_t* row)
    {
        const long offset = FBitsOffset + static_cast<long>((FHeight - 1 - y) * FStride);
        if (std::fseek(FFile.get(), offset, SEEK_SET) != 0)
            Fail(errno);
        Write(row, FStride);
    }

    void Finish()
    {
        std::FILE* file = FFile.release();
        const bool ok = std::fflush(file) == 0;
        const int error = errno;
        if (std::fclose(file) != 0 || !ok) {
            ::unlink(FFileName.c_str());
            Fail(ok ? errno : error);
        }
    }

private:
    void Write(const void* data, size_t size)
    {
        if (std::fwrite(data, 1, size, FFile.get()) != size)
            Fail(errno);
    }

    [[noreturn]] void Fail(int error) { throw Exception(FFileName + ": " + IOErrorText(error)); }

    std::string FFileName;
    uint32_t FHeight;
    size_t FStride = 0;
    long FBitsOffset = 0;
    TFile FFile;
};

// The decoder's state lives outside the setjmp frame so that a long jump
// leaves nothing with a destructor behind it.
struct TJob {
    jpeg_decompress_struct Info{};
    TErrorManager Error{};
    TFile Input;
    std::unique_ptr<TBmpWriter> Writer;
    std::vector<uint8_t> Samples;
    std::vector<uint8_t> Row;
    std::string Failure;
};

void ConvertRow(const jpeg_decompress_struct& info, const uint8_t* in, uint8_t* out)
{
    const JDIMENSION width = info.output_width;
    if (info.out_color_space == JCS_GRAYSCALE) {
        std::copy(in, in + width, out);
        return;
    }
    if (info.out_color_space == JCS_RGB) {
        for (JDIMENSION x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        return;
    }
    // Adobe writes CMYK inverted (0 = full ink); others store it plain.
    const bool inverted = info.saw_Adobe_marker;
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        const unsigned k = inverted ? in[3] : 255u - in[3];
        for (int c = 0; c < 3; ++c) {
            const unsigned v = inverted ? in[c] : 255u - in[c];
            out[2 - c] = static_cast<uint8_t>((v * k + 127) / 255);
        }
    }
}

bool Decode(TJob& job, const std::string& output)
{
    if (setjmp(job.Error.Jump)) {
        job.Failure = job.Error.Message;
        return false;
    }
    jpeg_stdio_src(&job.Info, job.Input.get());
    jpeg_read_header(&job.Info, TRUE);
    const bool grey = job.Info.jpeg_color_space == JCS_GRAYSCALE;
    if (job.Info.jpeg_color_space == JCS_CMYK || job.Info.jpeg_color_space == JCS_YCCK)
        job.Info.out_color_space = JCS_CMYK;
    else
        job.Info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&job.Info);

    try {
        job.Writer = std::make_unique<TBmpWriter>(output, job.Info.output_width, job.Info.output_height, grey);
    } catch (const std::exception& e) {
        job.Failure = e.what();
        return false;
    }
    job.Samples.resize(static_cast<size_t>(job.Info.output_width) *
                       static_cast<size_t>(job.Info.output_components));
    job.Row.assign(job.Writer->Stride(), 0);
    while (job.Info.output_scanline < job.Info.output_height) {
        const JDIMENSION y = job.Info.output_scanline;
        JSAMPROW rows[] = {job.Samples.data()};
        jpeg_read_scanlines(&job.Info, rows, 1);
        ConvertRow(job.Info, job.Samples.data(), job.Row.data());
        try {
            job.Writer->WriteRow(y, job.Row.data());
        } catch (const std::exception& e) {
            job.Failure = e.what();
            return false;
        }
    }
    jpeg_finish_decompress(&job.Info);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: jpg2bmp IN.jpg OUT.bmp\n");
        return 2;
    }
    const std::string input = argv[1];
    const std::string output = argv[2];

    TJob job;
    job.Input.reset(std::fopen(input.c_str(), "rb"));
    if (!job.Input) {
        std::fprintf(stderr, "%s\n", WithFullStop(input + ": " + IOErrorText(errno)).c_str());
        return 1;
    }
    job.Info.err = jpeg_std_error(&job.Error.Public);
    job.Error.Public.error_exit = &ErrorExit;
    job.Error.Public.emit_message = &EmitMessage;
    jpeg_create_decompress(&job.Info);
    const bool decoded = Decode(job, output);
    jpeg_destroy_decompress(&job.Info);
    try {
        if (decoded)
            job.Writer->Finish();
    } catch (const std::exception& e) {
        job.Failure = e.what();
    }
    if (!decoded || !job.Failure.empty()) {
        job.Writer.reset();
        const std::string message = job.Failure.rfind(output, 0) == 0 ? job.Failure : input + ": " + job.Failure;
        std::fprintf(stderr, "%s\n", WithFullStop(message).c_str());
        return 1;
    }
    return 0;
}

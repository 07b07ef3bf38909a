// The two JPEG sources: a picture reads its data through the memory source
// now, and must see what it saw through the stream source: the same rows for
// whole, truncated and damaged files, the empty-input error for no data, and
// no warning for data that end early.
#include "imaging/compression/jpeg_support.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <jerror.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes EncodeGradient(int width, int height, bool progressive)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    Bytes row(size_t(width) * 3);
    while (c.next_scanline < c.image_height) {
        const int y = static_cast<int>(c.next_scanline);
        for (int x = 0; x < width; ++x) {
            row[size_t(x) * 3] = static_cast<uint8_t>(x * 3 + y);
            row[size_t(x) * 3 + 1] = static_cast<uint8_t>(y * 5);
            row[size_t(x) * 3 + 2] = static_cast<uint8_t>((x * y) >> 3);
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes bytes(out, out + size);
    free(out);
    return bytes;
}

// Decodes all rows as blue-green-red; the error text when the library fails.
struct Decoded {
    Bytes Pixels;
    std::string Error;
    bool operator==(const Decoded&) const = default;
};

Decoded DecodeWith(const Bytes& data, bool memory)
{
    Decoded result;
    TJPEGDecompressor jpeg;
    TMemoryStream view(data.data(), data.size());
    if (memory)
        jpeg.UseMemorySource(data.data(), data.size(), nullptr, true);
    else
        jpeg.UseStreamSource(view);
    try {
        jpeg.Call([&] { jpeg_read_header(&jpeg.Info(), TRUE); });
        jpeg->out_color_space = JCS_EXT_BGR;
        jpeg->dct_method = JDCT_FLOAT;
        jpeg.Call([&] { jpeg_start_decompress(&jpeg.Info()); });
        const size_t stride = size_t(jpeg->output_width) * 3;
        result.Pixels.resize(stride * jpeg->output_height);
        while (jpeg->output_scanline < jpeg->output_height) {
            JSAMPROW row = result.Pixels.data() + stride * jpeg->output_scanline;
            jpeg.Call([&] { jpeg_read_scanlines(&jpeg.Info(), &row, 1); });
        }
        jpeg.Call([&] { jpeg_finish_decompress(&jpeg.Info()); });
    } catch (const EJPEG& e) {
        result.Error = e.what();
    }
    return result;
}

} // namespace

TEST(JPEGSources, MemorySourceDecodesAsTheStreamSource)
{
    std::vector<std::string> warnings;
    SetJPEGWarningHook([&](const std::string& text) { warnings.push_back(text); });
    for (const bool progressive : {false, true}) {
        const Bytes whole = EncodeGradient(300, 200, progressive);
        std::vector<std::pair<std::string, Bytes>> files = {{"whole", whole}};
        // Cuts in the headers, in the entropy-coded data, before the end marker.
        for (const size_t cut : {size_t(1), size_t(2), size_t(30), size_t(400), whole.size() / 3,
                                 whole.size() / 2 + 1, whole.size() - 2})
            files.push_back({"cut at " + std::to_string(cut), Bytes(whole.begin(), whole.begin() + cut)});
        // A marker segment whose length runs past the end (skipped data).
        Bytes longSegment(whole.begin(), whole.begin() + 2);
        const Bytes comment = {0xFF, 0xFE, 0x7F, 0xF0, 'a', 'b'};
        longSegment.insert(longSegment.end(), comment.begin(), comment.end());
        files.push_back({"segment past the end", longSegment});
        Bytes damaged = whole;
        for (size_t i = whole.size() / 2; i < whole.size() / 2 + 40; ++i)
            damaged[i] = static_cast<uint8_t>(i * 37);
        files.push_back({"damaged entropy data", damaged});
        for (const auto& [name, data] : files) {
            SCOPED_TRACE(name + (progressive ? ", progressive" : ", baseline"));
            const Decoded fromStream = DecodeWith(data, false);
            const Decoded fromMemory = DecodeWith(data, true);
            EXPECT_EQ(fromMemory.Error, fromStream.Error);
            EXPECT_TRUE(fromMemory.Pixels == fromStream.Pixels);
            if (name == "cut at " + std::to_string(whole.size() / 2 + 1)) {
                EXPECT_EQ(fromMemory.Error, "") << "a truncated file decodes as far as it goes";
            }
        }
    }
    SetJPEGWarningHook({});
    EXPECT_TRUE(warnings.empty());
}

TEST(JPEGSources, NoDataIsTheEmptyInputErrorWhenAsked)
{
    const std::string empty = "JPEG error #" + std::to_string(JERR_INPUT_EMPTY);
    EXPECT_EQ(DecodeWith({}, false).Error, empty);
    EXPECT_EQ(DecodeWith({}, true).Error, empty);
    // Without the option no data are an end of image at once, as for a TIFF strip.
    TJPEGDecompressor jpeg;
    jpeg.UseMemorySource(nullptr, 0, nullptr);
    std::string error;
    try {
        jpeg.Call([&] { jpeg_read_header(&jpeg.Info(), TRUE); });
    } catch (const EJPEG& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "JPEG error #" + std::to_string(JERR_NO_SOI));
}

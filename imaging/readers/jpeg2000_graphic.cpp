#include "imaging/readers/jpeg2000_graphic.h"

#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/thread_pool.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

PW_DEFINE_GRAPHIC_CLASS(TJPEG2000Graphic, TRasterGraphic)

namespace {

constexpr const char* Name = "JPEG 2000";
// A tile whose data the file cuts short is decoded only when it holds at
// least one byte per this many samples: a few bytes that declare a
// gigapixel tile must not cost the gigapixel's work. Real files, even lossy
// ones at a tenth of a bit per pixel, stay far below it.
constexpr uint64_t SamplesPerCutByte = 4096;
// A cut tile-part may claim this much beyond the end of the file, or as much
// as the codestream holds when that is more.
constexpr uint64_t MaxOverrunBytes = uint64_t(16) << 20;

uint32_t CeilDivPow2(uint64_t value, unsigned levels)
{
    return static_cast<uint32_t>((value + (uint64_t(1) << levels) - 1) >> levels);
}

// The codestream as OpenJPEG reads it, from our stream. The decoders of
// several threads read the one stream, each at a position of its own.
struct TSource {
    TStream* Stream = nullptr;
    std::mutex* Lock = nullptr;
    int64_t Start = 0, Length = 0, Position = 0;
};

OPJ_SIZE_T ReadSource(void* buffer, OPJ_SIZE_T count, void* user)
{
    TSource& s = *static_cast<TSource*>(user);
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(count), s.Length - s.Position);
    if (n <= 0)
        return static_cast<OPJ_SIZE_T>(-1);
    int64_t got = 0;
    {
        const std::lock_guard guard(*s.Lock);
        s.Stream->SetPosition(s.Start + s.Position);
        got = s.Stream->Read(buffer, n);
    }
    if (got <= 0)
        return static_cast<OPJ_SIZE_T>(-1);
    s.Position += got;
    return static_cast<OPJ_SIZE_T>(got);
}

OPJ_OFF_T SkipSource(OPJ_OFF_T count, void* user)
{
    TSource& s = *static_cast<TSource*>(user);
    const int64_t target = std::clamp<int64_t>(s.Position + count, 0, s.Length);
    const int64_t skipped = target - s.Position;
    s.Position = target;
    return skipped == count ? skipped : -1;
}

OPJ_BOOL SeekSource(OPJ_OFF_T position, void* user)
{
    TSource& s = *static_cast<TSource*>(user);
    if (position < 0 || position > s.Length)
        return OPJ_FALSE;
    s.Position = position;
    return OPJ_TRUE;
}

struct TCodecDeleter {
    void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct TStreamDeleter {
    void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct TImageDeleter {
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
struct TInfoDeleter {
    void operator()(opj_codestream_info_v2_t* i) const { opj_destroy_cstr_info(&i); }
};

// The decoder's first error, shown with ours.
void KeepError(const char* text, void* user)
{
    std::string& kept = *static_cast<std::string*>(user);
    if (!kept.empty() || !text)
        return;
    kept = text;
    while (!kept.empty() && (kept.back() == '\n' || kept.back() == ' ' || kept.back() == '.'))
        kept.pop_back();
}

void Ignore(const char*, void*) {}

[[noreturn]] void RaiseDecodeError(const std::string& detail)
{
    RaiseImageErrorFmt(msg::JPEG2000DecodeError, Name, detail.empty() ? std::string("unknown error") : detail);
}

// A decoder of the codestream: a codec and a stream of its own, the first
// error it reported, and its buffers for one tile, kept from tile to tile.
struct TDecoder {
    std::string Error;
    TSource Source;
    std::unique_ptr<opj_codec_t, TCodecDeleter> Codec;
    std::unique_ptr<opj_stream_t, TStreamDeleter> Input;
    std::unique_ptr<opj_image_t, TImageDeleter> Image;
    std::vector<uint8_t> Buffer; // the decoded tile, one component after another
    std::vector<uint8_t> Rows;   // a row of each shown component on 0..255
};

// Makes the decoder and reads the main header: false when the header could
// not be read (Error says why). threads are OpenJPEG's own for the decoder's
// code-blocks; 0 decodes them on the calling thread.
bool OpenDecoder(TDecoder& d, const TSource& source, uint32_t layers, int threads)
{
    d.Source = source;
    d.Codec.reset(opj_create_decompress(OPJ_CODEC_J2K));
    if (!d.Codec)
        RaiseDecodeError("");
    opj_set_error_handler(d.Codec.get(), KeepError, &d.Error);
    opj_set_warning_handler(d.Codec.get(), Ignore, nullptr);
    opj_set_info_handler(d.Codec.get(), Ignore, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    parameters.cp_layer = layers;
    if (!opj_setup_decoder(d.Codec.get(), &parameters))
        RaiseDecodeError(d.Error);
    // A cut file decodes as far as its data reach.
    opj_decoder_set_strict_mode(d.Codec.get(), OPJ_FALSE);
    if (opj_has_thread_support())
        opj_codec_set_threads(d.Codec.get(), threads);
    d.Input.reset(opj_stream_create(1 << 20, OPJ_TRUE));
    if (!d.Input)
        RaiseDecodeError("");
    opj_stream_set_user_data(d.Input.get(), &d.Source, nullptr);
    opj_stream_set_user_data_length(d.Input.get(), static_cast<OPJ_UINT64>(d.Source.Length));
    opj_stream_set_read_function(d.Input.get(), ReadSource);
    opj_stream_set_skip_function(d.Input.get(), SkipSource);
    opj_stream_set_seek_function(d.Input.get(), SeekSource);
    opj_image_t* image = nullptr;
    const bool read = opj_read_header(d.Input.get(), d.Codec.get(), &image);
    d.Image.reset(image);
    return read && d.Image;
}

// Splits the edges edge[0] < ... < edge[n] (n pieces of a side) into parts
// runs of whole pieces, each as near an even share of the side as the
// pieces allow: the first piece of each run, then n.
std::vector<size_t> SplitEvenly(const std::vector<uint64_t>& edge, size_t parts)
{
    const size_t n = edge.size() - 1;
    std::vector<size_t> first{0};
    for (size_t k = 1; k < parts; ++k) {
        const uint64_t aim = edge[0] + (edge[n] - edge[0]) * k / parts;
        const auto off = [&](size_t i) { return edge[i] > aim ? edge[i] - aim : aim - edge[i]; };
        size_t best = first.back() + 1;
        for (size_t i = best; i + (parts - k) <= n; ++i)
            if (off(i) < off(best))
                best = i;
        first.push_back(best);
    }
    first.push_back(n);
    return first;
}

// Where decoding tiles on several threads at once ended: the first
// position not decoded, and the decoder that stopped there (-1 when none
// did).
struct TTogether {
    size_t End = 0;
    int Stopper = -1;
};

// Decodes the tiles at positions 0 .. count - 1 of the codestream's order,
// lists[w] those decoder w takes, in that order, each decoder on a thread of
// its own; commit takes each tile on the calling thread in the order, as one
// decoder taking them in turn would. Where a decoder stops (decode answers
// false or raises) the work ends: the tiles after it that other decoders
// had done are given to undo, and what decode raised is raised again. An
// exception from commit (a load given up from its progress) stops every
// decoder after its tile and is raised again once all have stopped.
TTogether DecodeTogether(size_t count, const std::vector<std::vector<size_t>>& lists,
                         const std::function<bool(unsigned decoder, size_t position)>& decode,
                         const std::function<void(size_t position)>& commit,
                         const std::function<void(size_t position)>& undo)
{
    TTogether result{count, -1};
    if (lists.size() == 1) {
        for (const size_t position : lists[0]) {
            if (!decode(0, position)) {
                result = {position, 0};
                break;
            }
            commit(position);
        }
        return result;
    }
    std::mutex lock;
    std::condition_variable news;
    std::vector<uint8_t> done(count, 0);
    std::exception_ptr error;
    unsigned running = static_cast<unsigned>(lists.size() - 1); // decoders besides the calling thread's
    size_t committed = 0;

    // On the calling thread: commits the tiles done, in order; untilEnd
    // waits for the others until every tile before the end is committed.
    const auto commitReady = [&](bool untilEnd) {
        for (;;) {
            size_t upto = committed;
            {
                std::unique_lock guard(lock);
                if (untilEnd)
                    news.wait(guard, [&] {
                        return committed >= result.End || done[committed] || running == 0;
                    });
                while (upto < result.End && done[upto])
                    ++upto;
            }
            if (upto == committed)
                return;
            for (; committed < upto; ++committed)
                commit(committed);
            if (!untilEnd)
                return;
        }
    };
    const auto work = [&](unsigned decoder) {
        for (const size_t position : lists[decoder]) {
            {
                const std::lock_guard guard(lock);
                if (position >= result.End)
                    return;
            }
            bool decoded = false;
            std::exception_ptr raised;
            try {
                decoded = decode(decoder, position);
            } catch (...) {
                raised = std::current_exception();
            }
            {
                const std::lock_guard guard(lock);
                if (decoded) {
                    done[position] = 1;
                } else if (position < result.End) {
                    result = {position, static_cast<int>(decoder)};
                    error = raised;
                }
            }
            news.notify_all();
            if (!decoded)
                return;
            if (decoder == 0)
                commitReady(false);
        }
    };
    pwthreads::RunTogether(static_cast<unsigned>(lists.size()), [&](unsigned decoder) {
        if (decoder > 0) {
            work(decoder);
            const std::lock_guard guard(lock);
            --running;
            news.notify_all();
            return;
        }
        try {
            work(0);
            commitReady(true);
        } catch (...) {
            const std::lock_guard guard(lock);
            result.End = 0;
            throw;
        }
    });
    for (size_t position = result.End; position < count; ++position)
        if (done[position])
            undo(position);
    if (error)
        std::rethrow_exception(error);
    return result;
}

// One component of a decoded tile, as OpenJPEG lays it out: 1, 2 or 4
// bytes per sample by precision, signed as the component is.
struct TPlane {
    const uint8_t* Data = nullptr;
    uint32_t Width = 0, Height = 0;
    int Bytes = 1;
    bool Signed = false;
    uint8_t Precision = 8;
};

int SampleBytes(uint8_t precision)
{
    return precision <= 8 ? 1 : precision <= 16 ? 2 : 4;
}

int64_t Sample(const TPlane& p, size_t index)
{
    switch (p.Bytes) {
    case 1:
        return p.Signed ? int64_t(int8_t(p.Data[index])) : int64_t(p.Data[index]);
    case 2: {
        uint16_t v;
        std::memcpy(&v, p.Data + 2 * index, 2);
        return p.Signed ? int64_t(int16_t(v)) : int64_t(v);
    }
    default: {
        int32_t v;
        std::memcpy(&v, p.Data + 4 * index, 4);
        return v;
    }
    }
}

// Row y of a plane on 0..255: unsigned 8-bit rows are used where they lie,
// every other kind is scaled into row (v x 255 / maximum, as 16-bit samples
// are reduced everywhere).
const uint8_t* Row8(const TPlane& p, uint32_t y, uint8_t* row)
{
    const size_t first = size_t(y) * p.Width;
    if (p.Bytes == 1 && !p.Signed && p.Precision == 8)
        return p.Data + first;
    const int64_t offset = p.Signed ? int64_t(1) << (p.Precision - 1) : 0;
    const int64_t maximum = (int64_t(1) << std::min<int>(p.Precision, 38)) - 1;
    for (uint32_t x = 0; x < p.Width; ++x) {
        const int64_t v = std::clamp<int64_t>(Sample(p, first + x) + offset, 0, maximum);
        row[x] = static_cast<uint8_t>(v * 255 / maximum);
    }
    return row;
}

// Row y of a plane as palette indices, clamped to the last entry.
void IndexRow(const TPlane& p, uint32_t y, uint32_t entries, uint8_t* row)
{
    const size_t first = size_t(y) * p.Width;
    for (uint32_t x = 0; x < p.Width; ++x)
        row[x] = static_cast<uint8_t>(std::clamp<int64_t>(Sample(p, first + x), 0, entries - 1));
}

} // namespace

TJPEG2000Graphic::TJPEG2000Graphic() = default;
TJPEG2000Graphic::~TJPEG2000Graphic() = default;

bool TJPEG2000Graphic::CanLoadStream(TStream& stream)
{
    return IsJP2File(stream) || IsJ2KCodestream(stream);
}

bool TJPEG2000Graphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    const int64_t start = stream.Position();
    if (!CanLoadStream(stream))
        return false;
    FLayout = ReadJP2Layout(stream, start, Name);
    FSize = ReadJ2KSize(stream, FLayout, Name);
    TImageProperties& p = ImageProperties;
    const TJ2KComponent& first = FSize.Components.front();
    p.Width = FSize.Width();
    p.Height = FSize.Height();
    p.BitsPerSample = first.Precision;
    p.SamplesPerPixel = static_cast<uint8_t>(std::min<size_t>(FSize.Components.size(), 255));
    p.BitsPerPixel = static_cast<uint8_t>(std::min<unsigned>(255, unsigned(p.BitsPerSample) * p.SamplesPerPixel));
    p.TileWidth = FSize.TileWidth;
    p.TileLength = FSize.TileHeight;
    if (FSize.TilesAcross() * FSize.TilesDown() > 1)
        p.Flags |= ifTiled;
    p.PixelScheme = FLayout.HasPalette             ? psIndexed
                    : p.SamplesPerPixel >= 4       ? psRGBA
                    : p.SamplesPerPixel == 3       ? psRGB
                    : p.SamplesPerPixel == 2       ? psGrayAlpha
                                                   : psGray;
    p.AlphaPresent = p.PixelScheme == psRGBA || p.PixelScheme == psGrayAlpha;
    p.CompressionKind = ckUnknown;
    return true;
}

TJPEG2000Graphic::TChannels TJPEG2000Graphic::ChooseChannels() const
{
    // The picture's channels: the component mapping's, else one per component.
    std::vector<TJP2Channel> channels = FLayout.Mapping;
    if (channels.empty())
        for (uint16_t c = 0; c < FSize.Components.size(); ++c)
            channels.push_back(TJP2Channel{c, false, 0});
    for (const TJP2Channel& c : channels)
        if (c.Component >= FSize.Components.size() ||
            (c.ThroughPalette && (!FLayout.HasPalette || c.Column >= FLayout.Palette.Depths.size())))
            RaiseInvalidFormat();

    // Colour channels in order and the opacity, by the channel definitions
    // where there are any.
    std::vector<int> colour;
    int alpha = -1;
    if (FLayout.Definitions.empty()) {
        for (size_t i = 0; i < channels.size(); ++i)
            colour.push_back(static_cast<int>(i));
    } else {
        colour.assign(channels.size(), -1);
        for (const TJP2ChannelDefinition& d : FLayout.Definitions) {
            if (d.Channel >= channels.size())
                RaiseInvalidFormat();
            if (d.Type == 1 || d.Type == 2) {
                if (alpha < 0)
                    alpha = d.Channel;
            } else if (d.Type == 0 && d.Association >= 1 && d.Association <= channels.size()) {
                colour[d.Association - 1] = d.Channel;
            }
        }
        colour.erase(std::remove(colour.begin(), colour.end(), -1), colour.end());
    }

    size_t colours = 0;
    switch (FLayout.ColourSpace) {
    case 0: // none, or an ICC profile: as many colours as the channels give
        colours = colour.size() >= 3 ? 3 : 1;
        break;
    case 16:
        colours = 3;
        break;
    case 17:
        colours = 1;
        break;
    default:
        RaiseImageErrorFmt(msg::NotSupported, msg::JPEG2000ColourSpace, Name);
    }
    const bool throughPalette = !colour.empty() && channels[size_t(colour[0])].ThroughPalette;
    if (throughPalette)
        colours = 3;
    if (colour.size() < colours)
        RaiseInvalidFormat();
    // Without channel definitions the channel after the colours is opacity.
    if (FLayout.Definitions.empty() && colour.size() > colours && colours == 3)
        alpha = colour[colours];

    TChannels result;
    if (throughPalette) {
        // One component through three 8-bit palette columns of at most 256 entries.
        const TJP2PaletteBox& pal = FLayout.Palette;
        const TJP2Channel& index = channels[size_t(colour[0])];
        for (size_t i = 0; i < 3; ++i) {
            const TJP2Channel& c = channels[size_t(colour[i])];
            if (!c.ThroughPalette || c.Component != index.Component || pal.Depths[c.Column] != 8 ||
                pal.Entries > 256)
                RaiseImageErrorFmt(msg::NotSupported, msg::JPEG2000Palette, Name);
        }
        result.Kind = TKind::Palette;
        result.Component[0] = index.Component;
        return result;
    }
    for (size_t i = 0; i < colours; ++i) {
        if (channels[size_t(colour[i])].ThroughPalette)
            RaiseImageErrorFmt(msg::NotSupported, msg::JPEG2000Palette, Name);
        result.Component[i] = channels[size_t(colour[i])].Component;
    }
    result.Kind = colours == 1 ? TKind::Grey : TKind::RGB;
    if (colours == 3 && alpha >= 0 && !channels[size_t(alpha)].ThroughPalette) {
        result.Kind = TKind::RGBA;
        result.Component[3] = channels[size_t(alpha)].Component;
    }
    return result;
}

void TJPEG2000Graphic::LoadFromStream(TStream& stream)
{
    FTilesDecoded = 0;
    FApplied = 0;
    BeginLoad(stream, msg::Preparing);
    const auto finish = [this] { Progress(this, psEnding, 100, true, ProgressRect, ""); };
    try {
        const TChannels channels = ChooseChannels();
        for (int i = 0; i < (channels.Kind == TKind::RGBA ? 4 : channels.Kind == TKind::RGB ? 3 : 1); ++i) {
            const TJ2KComponent& c = FSize.Components[channels.Component[i]];
            if (c.DX != 1 || c.DY != 1)
                RaiseImageErrorFmt(msg::NotSupported, msg::JPEG2000Subsampled, Name);
        }
        DecodeTiles(stream, channels);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TJPEG2000Graphic::DecodeTiles(TStream& stream, const TChannels& channels)
{
    const uint64_t tiles = FSize.TilesAcross() * FSize.TilesDown();
    // The decoder keeps a record per tile before it reads any: a file must
    // hold at least a tile-part header (14 bytes) per tile it declares.
    if (tiles > 65535 || tiles * 14 > uint64_t(FLayout.CodestreamLength))
        RaiseInvalidFormat();
    // The decoder works on a whole tile at 4 bytes a sample: that is the
    // largest buffer this load allocates besides the bitmap.
    const uint64_t tileSamples = uint64_t(std::min(FSize.TileWidth, FSize.Width())) *
                                 std::min(FSize.TileHeight, FSize.Height()) * FSize.Components.size();
    CheckBufferSize(Name, tileSamples, 4);
    const TJ2KTileParts parts = ReadJ2KTileData(stream, FLayout, FSize);

    // The decoder takes a block of the length a tile-part declares before it
    // reads the bytes there are, also while it reads an earlier tile's
    // parts or looks on past bytes that are no marker: the codestream it is
    // given ends before the first tile-part that claims far more than the
    // file holds (gigabytes in a few hundred bytes).
    int64_t length = FLayout.CodestreamLength;
    const uint64_t overrunLimit = std::max<uint64_t>(uint64_t(length), MaxOverrunBytes);
    for (const TJ2KTileParts::TOverrun& o : parts.Overruns)
        if (o.Bytes > overrunLimit) {
            length = o.At - FLayout.CodestreamStart;
            break;
        }
    std::mutex streamLock;
    const TSource source{&stream, &streamLock, FLayout.CodestreamStart, length, 0};
    // Every quality layer takes at least a byte of every tile it is in: a
    // header declaring more layers than the codestream has bytes (61441 in
    // a file of 296 bytes took ten seconds) decodes only as many as it could hold.
    const auto layers = static_cast<uint32_t>(std::clamp<int64_t>(FLayout.CodestreamLength, 1, 65535));

    // Several tiles are decoded at once, each decoder taking a run of tile
    // columns (in a picture one tile across, of tile rows) and skipping the
    // other tiles' data; one thread, or a picture of one tile, has a single
    // decoder whose code-blocks OpenJPEG shares out over the threads.
    const unsigned threads = pwthreads::ThreadCount();
    const bool across = FSize.TilesAcross() > 1;
    const uint64_t pieces = across ? FSize.TilesAcross() : FSize.TilesDown();
    size_t decoderCount = static_cast<size_t>(std::min<uint64_t>(threads, pieces));
    if (parts.PackedHeaders || FSize.X1 > uint32_t(INT32_MAX) || FSize.Y1 > uint32_t(INT32_MAX) ||
        tileSamples * 4 * decoderCount > MaxImageBytes)
        decoderCount = 1;
    // With several decoders each keeps to its own thread.
    int codecThreads = decoderCount == 1 ? static_cast<int>(threads) : 0;
    std::vector<std::unique_ptr<TDecoder>> decoders;
    const auto openDecoder = [&](unsigned levels) {
        decoders.push_back(std::make_unique<TDecoder>());
        TDecoder& d = *decoders.back();
        return OpenDecoder(d, source, layers, codecThreads) && d.Image->numcomps == FSize.Components.size() &&
               (levels == 0 || opj_set_decoded_resolution_factor(d.Codec.get(), levels));
    };
    if (!openDecoder(0))
        RaiseDecodeError(decoders[0]->Error);
    // As many levels left out as every component has.
    unsigned reduction = FReduction;
    if (reduction > 0) {
        std::unique_ptr<opj_codestream_info_v2_t, TInfoDeleter> info(opj_get_cstr_info(decoders[0]->Codec.get()));
        for (OPJ_UINT32 c = 0; info && info->m_default_tile_info.tccp_info && c < info->nbcomps; ++c)
            reduction = std::min<unsigned>(reduction, info->m_default_tile_info.tccp_info[c].numresolutions - 1);
        if (reduction > 0 && !opj_set_decoded_resolution_factor(decoders[0]->Codec.get(), reduction))
            RaiseDecodeError(decoders[0]->Error);
    }
    FApplied = reduction;

    // Each decoder's run of tile columns or rows, and the area it decodes
    // on the reference grid.
    std::vector<size_t> run{0, 1};
    std::vector<uint64_t> edge;
    if (decoderCount > 1) {
        for (uint64_t i = 0; i <= pieces; ++i)
            edge.push_back(across ? std::clamp<uint64_t>(FSize.TileX0 + i * FSize.TileWidth, FSize.X0, FSize.X1)
                                  : std::clamp<uint64_t>(FSize.TileY0 + i * FSize.TileHeight, FSize.Y0, FSize.Y1));
        run = SplitEvenly(edge, decoderCount);
        bool ready = true;
        for (size_t k = 0; k < decoderCount && ready; ++k) {
            ready = k == 0 || openDecoder(reduction);
            OPJ_INT32 area[4] = {OPJ_INT32(FSize.X0), OPJ_INT32(FSize.Y0), OPJ_INT32(FSize.X1), OPJ_INT32(FSize.Y1)};
            area[across ? 0 : 1] = static_cast<OPJ_INT32>(edge[run[k]]);
            area[across ? 2 : 3] = static_cast<OPJ_INT32>(edge[run[k + 1]]);
            ready = ready && opj_set_decode_area(decoders[k]->Codec.get(), decoders[k]->Image.get(), area[0], area[1],
                                                 area[2], area[3]);
        }
        if (!ready) {
            // A decoder could not be made or kept to its area (not seen with
            // a file the first could read): one decoder takes every tile.
            decoders.clear();
            decoderCount = 1;
            codecThreads = static_cast<int>(threads);
            if (!openDecoder(reduction))
                RaiseDecodeError(decoders[0]->Error);
            run = {0, 1};
        }
    }
    const uint32_t left = CeilDivPow2(FSize.X0, reduction), top = CeilDivPow2(FSize.Y0, reduction);
    const uint32_t width = CeilDivPow2(FSize.X1, reduction) - left;
    const uint32_t height = CeilDivPow2(FSize.Y1, reduction) - top;
    const TBitmapFormat format = channels.Kind == TKind::RGBA  ? bf32Bit
                                 : channels.Kind == TKind::RGB ? bf24Bit
                                                               : bf8Bit;
    CheckImageSize(Name, width, height, static_cast<uint32_t>(BitsPerPixelOf(format)));
    SetPixelFormat(format);
    SetAlphaPresent(channels.Kind == TKind::RGBA);
    SetSize(static_cast<int>(width), static_cast<int>(height));
    TColorManager& cm = ColorManager();
    if (channels.Kind == TKind::Palette) {
        const TJP2PaletteBox& pal = FLayout.Palette;
        const size_t columns = pal.Depths.size();
        std::vector<TPaletteEntry> entries(pal.Entries);
        // The mapping's columns for red, green and blue.
        uint8_t column[3] = {0, 1, 2};
        for (size_t i = 0, k = 0; i < FLayout.Mapping.size() && k < 3; ++i)
            if (FLayout.Mapping[i].ThroughPalette)
                column[k++] = FLayout.Mapping[i].Column;
        for (size_t e = 0; e < entries.size(); ++e) {
            entries[e].peRed = static_cast<uint8_t>(pal.Values[e * columns + column[0]]);
            entries[e].peGreen = static_cast<uint8_t>(pal.Values[e * columns + column[1]]);
            entries[e].peBlue = static_cast<uint8_t>(pal.Values[e * columns + column[2]]);
        }
        SetPalette(CreatePalette(entries));
    } else if (channels.Kind == TKind::Grey) {
        SetPalette(cm.MakeGrayPalette(false));
    } else {
        const uint8_t samples = channels.Kind == TKind::RGBA ? 4 : 3;
        cm.SetSourceBits(8);
        cm.SetTargetBits(8);
        cm.SetSourceSamples(samples);
        cm.SetTargetSamples(samples);
        cm.SetSourceScheme(samples == 4 ? psRGBA : psRGB);
        cm.SetTargetScheme(samples == 4 ? psBGRA : psBGR);
    }
    const int shown = channels.Kind == TKind::RGBA ? 4 : channels.Kind == TKind::RGB ? 3 : 1;
    const int pixelBytes = BitsPerPixelOf(format) / 8;

    // The tile's top row in the picture, for the early end.
    const auto tileTop = [&](uint64_t tile) {
        const uint64_t y = std::max<uint64_t>(FSize.TileY0 + (tile / FSize.TilesAcross()) * FSize.TileHeight, FSize.Y0);
        return uint64_t(CeilDivPow2(y, reduction) - top);
    };
    // A tile cut short to a few bytes is not worth its work: decoding ends
    // before the first.
    size_t count = 0;
    while (count < parts.Order.size() && !(parts.Tiles[parts.Order[count]].Cut &&
                                           tileSamples > parts.Tiles[parts.Order[count]].Held * SamplesPerCutByte))
        ++count;

    // Where each tile decoded lies in the bitmap, by its position in the order.
    struct TPlaced {
        uint32_t X = 0, Y = 0, Width = 0, Height = 0;
    };
    std::vector<TPlaced> placed(count);
    // Reads the decoder's next tile, which must be the one at position, and
    // decodes it into its rows; false where the decoder stops (a cut or
    // corrupt file ends there).
    const auto decodeTile = [&](unsigned decoder, size_t position) {
        TDecoder& d = *decoders[decoder];
        OPJ_UINT32 index = 0, size = 0, components = 0;
        OPJ_INT32 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        OPJ_BOOL goOn = OPJ_FALSE;
        if (!opj_read_tile_header(d.Codec.get(), d.Input.get(), &index, &size, &x0, &y0, &x1, &y1, &components, &goOn) ||
            !goOn || index >= tiles)
            return false;
        const uint32_t tx0 = CeilDivPow2(uint32_t(x0), reduction), ty0 = CeilDivPow2(uint32_t(y0), reduction);
        const uint32_t tw = CeilDivPow2(uint32_t(x1), reduction) - tx0, th = CeilDivPow2(uint32_t(y1), reduction) - ty0;
        uint64_t expected = 0;
        for (const TJ2KComponent& c : FSize.Components)
            expected += uint64_t(tw) * th * SampleBytes(c.Precision);
        if (expected != size || tx0 < left || ty0 < top || tx0 - left + uint64_t(tw) > width ||
            ty0 - top + uint64_t(th) > height || components != FSize.Components.size())
            RaiseInvalidFormat();
        if (index != parts.Order[position])
            RaiseInvalidFormat();
        d.Buffer.resize(static_cast<size_t>(CheckBufferSize(Name, size, 1)));
        if (!opj_decode_tile_data(d.Codec.get(), index, d.Buffer.data(), size, d.Input.get()))
            return false;

        TPlane planes[4];
        std::vector<size_t> offsets(components + 1, 0);
        for (OPJ_UINT32 c = 0; c < components; ++c)
            offsets[c + 1] = offsets[c] + size_t(tw) * th * SampleBytes(FSize.Components[c].Precision);
        for (int i = 0; i < shown; ++i) {
            const uint16_t c = channels.Component[i];
            const TJ2KComponent& k = FSize.Components[c];
            planes[i] = TPlane{d.Buffer.data() + offsets[c], tw, th, SampleBytes(k.Precision), k.Signed, k.Precision};
        }
        if (d.Rows.size() < size_t(tw) * 4)
            d.Rows.resize(size_t(tw) * 4);
        for (uint32_t y = 0; y < th; ++y) {
            uint8_t* line = ScanLine(static_cast<int>(ty0 - top + y)) + size_t(tx0 - left) * pixelBytes;
            if (channels.Kind == TKind::Palette) {
                IndexRow(planes[0], y, FLayout.Palette.Entries, line);
            } else if (channels.Kind == TKind::Grey) {
                const uint8_t* row = Row8(planes[0], y, line);
                if (row != line)
                    std::memcpy(line, row, tw);
            } else {
                const void* sources[4];
                for (int i = 0; i < shown; ++i)
                    sources[i] = Row8(planes[i], y, d.Rows.data() + size_t(i) * tw);
                cm.ConvertLine(sources, shown, line, tw);
            }
        }
        placed[position] = TPlaced{tx0 - left, ty0 - top, tw, th};
        return true;
    };

    std::vector<bool> decoded(static_cast<size_t>(tiles), false);
    // Rows are final once every tile across them is: whole bands are
    // reported, in order, however the codestream orders its tiles.
    std::vector<uint64_t> doneInBand(static_cast<size_t>(FSize.TilesDown()), 0);
    size_t nextBand = 0;
    const auto bandBottom = [&](uint64_t band) {
        const uint64_t y = std::min<uint64_t>(FSize.TileY0 + (band + 1) * FSize.TileHeight, FSize.Y1);
        return static_cast<int32_t>(CeilDivPow2(y, reduction) - top);
    };
    const auto commit = [&](size_t position) {
        const uint16_t index = parts.Order[position];
        decoded[index] = true;
        ++FTilesDecoded;
        if (parts.Tiles[index].Cut)
            NoteEarlyEnd(tileTop(index));
        ++doneInBand[size_t(index / FSize.TilesAcross())];
        for (; nextBand < doneInBand.size() && doneInBand[nextBand] == FSize.TilesAcross(); ++nextBand) {
            const int32_t bottom = bandBottom(nextBand);
            ProgressRect = TRect{0, 0, static_cast<int32_t>(width), bottom};
            Progress(this, psRunning, static_cast<uint8_t>(uint64_t(bottom) * 100 / height), true, ProgressRect, "");
        }
    };
    // A tile decoded after one where decoding stopped leaves nothing
    // behind: its rows are zero again, as the fresh bitmap had them.
    const auto undo = [&](size_t position) {
        const TPlaced& p = placed[position];
        for (uint32_t y = 0; y < p.Height; ++y)
            std::memset(ScanLine(static_cast<int>(p.Y + y)) + size_t(p.X) * pixelBytes, 0,
                        size_t(p.Width) * pixelBytes);
    };
    // Each decoder's tiles, in the codestream's order.
    std::vector<std::vector<size_t>> lists(decoderCount);
    for (size_t position = 0; position < count; ++position) {
        const uint64_t tile = parts.Order[position];
        const uint64_t piece = across ? tile % FSize.TilesAcross() : tile / FSize.TilesAcross();
        const size_t k = static_cast<size_t>(std::upper_bound(run.begin() + 1, run.end() - 1, piece) - run.begin() - 1);
        lists[decoderCount == 1 ? 0 : k].push_back(position);
    }
    if (decoderCount > 1 && width > 0 && height > 0) {
        ScanLine(0);            // the pixels are allocated before any thread writes them
        cm.ConvertsInPlace();   // and the row routine chosen
    }

    StartProgress(msg::Transfering);
    const TTogether end = DecodeTogether(count, lists, decodeTile, commit, undo);
    // A file whose first tile could not be read says why.
    const std::string& error = decoders[end.Stopper >= 0 ? size_t(end.Stopper) : 0]->Error;
    if (FTilesDecoded == 0 && !error.empty())
        RaiseDecodeError(error);
    for (uint64_t t = 0; t < tiles; ++t)
        if (!decoded[t])
            NoteEarlyEnd(tileTop(t));
}

#include "imaging/compression/jpeg_support.h"

#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <iostream>
#include <jerror.h>
#include <utility>

namespace {

TJPEGWarningHook& WarningHook()
{
    static TJPEGWarningHook hook;
    return hook;
}

TJPEGDecompressor& Owner(j_common_ptr info)
{
    return *static_cast<TJPEGDecompressor*>(info->client_data);
}

TJPEGDecompressor& Owner(j_decompress_ptr info)
{
    return *static_cast<TJPEGDecompressor*>(info->client_data);
}

// The two bytes a source hands out when its data end: an end-of-image marker,
// after which libjpeg fills the missing part of the image itself.
const JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};

void IgnoreOutput(j_common_ptr) {}

} // namespace

std::string JPEGErrorText(int code)
{
    return Format(msg::JPEGError, std::to_string(code));
}

void SetJPEGWarningHook(TJPEGWarningHook hook)
{
    WarningHook() = std::move(hook);
}

namespace {
thread_local TJPEGWarningCapture* Capture = nullptr;
} // namespace

TJPEGWarningCapture::TJPEGWarningCapture(TJPEGWarningHook sink) : FSink(std::move(sink)), FOuter(Capture)
{
    Capture = this;
}

TJPEGWarningCapture::~TJPEGWarningCapture()
{
    Capture = FOuter;
}

void ShowJPEGWarning(const std::string& text)
{
    if (Capture)
        Capture->FSink(text);
    else if (WarningHook())
        WarningHook()(text);
    else
        std::cerr << msg::JPEGWarningCaption << ": " << text << '\n';
}

// The source managers. Standard layout with libjpeg's record first, so that
// the record libjpeg hands to the callbacks leads back to the whole.
struct TJPEGDecompressor::TSource {
    jpeg_source_mgr Public{};
    TStream* Stream = nullptr;
    bool StartOfFile = true;
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    const char* WarningAtEnd = nullptr;
    bool EmptyIsError = false;
    bool Warned = false;
    bool Exhausted = false;
    JOCTET Buffer[4096];

    static TSource& Of(j_decompress_ptr info) { return *reinterpret_cast<TSource*>(info->src); }

    static void InitSource(j_decompress_ptr) {}
    static void TermSource(j_decompress_ptr) {}

    static void SupplyEndOfImage(TSource& source)
    {
        source.Exhausted = true;
        source.Public.next_input_byte = EndOfImage;
        source.Public.bytes_in_buffer = sizeof EndOfImage;
    }

    static boolean FillFromStream(j_decompress_ptr info)
    {
        TSource& source = Of(info);
        int64_t got = 0;
        if (!Owner(info).Guarded([&] { got = source.Stream->Read(source.Buffer, sizeof source.Buffer); }))
            Owner(info).LeaveLibrary();
        if (got <= 0) {
            if (source.StartOfFile)
                ERREXIT(info, JERR_INPUT_EMPTY);
            WARNMS(info, JWRN_JPEG_EOF);
            SupplyEndOfImage(source);
            return TRUE;
        }
        source.Public.next_input_byte = source.Buffer;
        source.Public.bytes_in_buffer = static_cast<size_t>(got);
        source.StartOfFile = false;
        return TRUE;
    }

    static void SkipInStream(j_decompress_ptr info, long count)
    {
        TSource& source = Of(info);
        if (count <= 0)
            return;
        while (static_cast<size_t>(count) > source.Public.bytes_in_buffer) {
            count -= static_cast<long>(source.Public.bytes_in_buffer);
            FillFromStream(info);
        }
        source.Public.next_input_byte += count;
        source.Public.bytes_in_buffer -= static_cast<size_t>(count);
    }

    static void InitMemory(j_decompress_ptr info)
    {
        TSource& source = Of(info);
        source.Public.next_input_byte = source.Data;
        source.Public.bytes_in_buffer = source.Size;
    }

    // The data were all handed out at the start; more wanted means they end early.
    static boolean FillFromMemory(j_decompress_ptr info)
    {
        TSource& source = Of(info);
        if (source.EmptyIsError && source.Size == 0)
            ERREXIT(info, JERR_INPUT_EMPTY);
        if (source.WarningAtEnd && !source.Warned) {
            // Once per source: a damaged strip must not bring up a box per request.
            source.Warned = true;
            if (!Owner(info).Guarded([&] { ShowJPEGWarning(source.WarningAtEnd); }))
                Owner(info).LeaveLibrary();
        }
        WARNMS(info, JWRN_JPEG_EOF);
        SupplyEndOfImage(source);
        return TRUE;
    }

    static void SkipInMemory(j_decompress_ptr info, long count)
    {
        TSource& source = Of(info);
        if (count <= 0)
            return;
        if (static_cast<size_t>(count) > source.Public.bytes_in_buffer) {
            FillFromMemory(info);
            return;
        }
        source.Public.next_input_byte += count;
        source.Public.bytes_in_buffer -= static_cast<size_t>(count);
    }
};

TJPEGDecompressor::TJPEGDecompressor()
{
    FInfo.err = jpeg_std_error(&FError);
    FError.error_exit = &ErrorExit;
    FError.emit_message = &NoteMessage;
    FError.output_message = &IgnoreOutput;
    FInfo.client_data = this;
    try {
        Call([&] { jpeg_create_decompress(&FInfo); });
    } catch (...) {
        jpeg_destroy_decompress(&FInfo);
        throw;
    }
    // After creation, which clears all but the error manager and client data.
    FProgressManager.progress_monitor = &ProgressMonitor;
    FInfo.progress = &FProgressManager;
}

// Warnings are not shown; the premature-end ones are kept as the row the
// data ended in.
void TJPEGDecompressor::NoteMessage(j_common_ptr info, int level)
{
    const int code = info->err->msg_code;
    if (level >= 0 || (code != JWRN_JPEG_EOF && code != JWRN_HIT_MARKER) || !info->is_decompressor)
        return;
    auto& self = *static_cast<TJPEGDecompressor*>(info->client_data);
    if (self.FPrematureEndRow < 0)
        self.FPrematureEndRow = reinterpret_cast<j_decompress_ptr>(info)->output_scanline;
}

TJPEGDecompressor::~TJPEGDecompressor()
{
    jpeg_destroy_decompress(&FInfo);
}

void TJPEGDecompressor::ErrorExit(j_common_ptr info)
{
    Owner(info).LeaveLibrary();
}

void TJPEGDecompressor::LeaveLibrary()
{
    std::longjmp(FJump, 1);
}

void TJPEGDecompressor::RaiseLibraryError()
{
    if (FPending)
        std::rethrow_exception(std::exchange(FPending, nullptr));
    throw EJPEG(JPEGErrorText(FError.msg_code));
}

void TJPEGDecompressor::ProgressMonitor(j_common_ptr info)
{
    TJPEGDecompressor& self = Owner(info);
    // Each scan of a progressive file is a pass over the whole image, and a
    // small file can hold thousands; encoders write a dozen or so.
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > MaxScans) {
        self.Guarded([] { throw EJPEG(Format(msg::JPEGTooManyScans, std::to_string(MaxScans))); });
        self.LeaveLibrary();
    }
    if (self.FProgress && !self.Guarded([&] { self.FProgress(self.FProgressManager); }))
        self.LeaveLibrary();
}

void TJPEGDecompressor::SetProgress(std::function<void(const jpeg_progress_mgr&)> progress)
{
    FProgress = std::move(progress);
}

void TJPEGDecompressor::UseStreamSource(TStream& stream)
{
    FSource = std::make_unique<TSource>();
    FSource->Stream = &stream;
    FSource->Public.init_source = &TSource::InitSource;
    FSource->Public.fill_input_buffer = &TSource::FillFromStream;
    FSource->Public.skip_input_data = &TSource::SkipInStream;
    FSource->Public.resync_to_restart = &jpeg_resync_to_restart;
    FSource->Public.term_source = &TSource::TermSource;
    FInfo.src = &FSource->Public;
}

void TJPEGDecompressor::UseMemorySource(const uint8_t* data, size_t size, const char* warningAtEnd,
                                        bool emptyIsError)
{
    FSource = std::make_unique<TSource>();
    FSource->Data = data;
    FSource->Size = size;
    FSource->EmptyIsError = emptyIsError;
    FSource->WarningAtEnd = warningAtEnd && *warningAtEnd ? warningAtEnd : nullptr;
    FSource->Public.init_source = &TSource::InitMemory;
    FSource->Public.fill_input_buffer = &TSource::FillFromMemory;
    FSource->Public.skip_input_data = &TSource::SkipInMemory;
    FSource->Public.resync_to_restart = &jpeg_resync_to_restart;
    FSource->Public.term_source = &TSource::TermSource;
    // The library calls init_source only at the start of a datastream;
    // until then nothing is buffered.
    FSource->Public.next_input_byte = nullptr;
    FSource->Public.bytes_in_buffer = 0;
    FInfo.src = &FSource->Public;
}

size_t TJPEGDecompressor::SourceBytesConsumed() const
{
    if (!FSource || !FSource->Data)
        return 0;
    if (FSource->Exhausted)
        return FSource->Size;
    return FSource->Size - FSource->Public.bytes_in_buffer;
}

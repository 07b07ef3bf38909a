#pragma once
// libjpeg glue shared by the JPEG picture and the TIFF-JPEG decoder: a guard
// that owns one decompressor with our error manager, the two source managers
// and the hook that shows the warning for a JPEG strip that ends early.
//
// libjpeg is C: a library error must not unwind through its frames as a C++
// exception. The error manager therefore jumps (longjmp) back into Call,
// which throws EJPEG "JPEG error #N" from there. Callbacks that run inside
// libjpeg (progress, source refills) catch what they call, park the
// exception here and jump out the same way; Call rethrows it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <csetjmp>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include <jpeglib.h>

class TStream;

// "JPEG error #N" for a library message number.
std::string JPEGErrorText(int code);

// Shows a warning of the JPEG code (the GUI sets a message box captioned
// "Warning"; the default writes "Warning: TEXT" to stderr). An empty hook
// restores the default.
using TJPEGWarningHook = std::function<void(const std::string& text)>;
void SetJPEGWarningHook(TJPEGWarningHook hook);
void ShowJPEGWarning(const std::string& text);

// While one lives on a thread, the warnings shown on that thread go to its
// sink instead of the hook: a decode on a worker thread keeps them for the
// loading thread, which shows them in the order the image holds them.
class TJPEGWarningCapture {
public:
    explicit TJPEGWarningCapture(TJPEGWarningHook sink);
    ~TJPEGWarningCapture();
    TJPEGWarningCapture(const TJPEGWarningCapture&) = delete;
    TJPEGWarningCapture& operator=(const TJPEGWarningCapture&) = delete;

private:
    friend void ShowJPEGWarning(const std::string& text);
    TJPEGWarningHook FSink;
    TJPEGWarningCapture* FOuter;
};

class TJPEGDecompressor {
public:
    // Scans a file may hold before the decoder gives up ("JPEG file has more
    // than 1000 scans.").
    static constexpr int MaxScans = 1000;

    // Creates the decompressor (jpeg_CreateDecompress) with our error manager:
    // fatal errors raise EJPEG, warnings and trace messages are dropped.
    TJPEGDecompressor();
    ~TJPEGDecompressor();
    TJPEGDecompressor(const TJPEGDecompressor&) = delete;
    TJPEGDecompressor& operator=(const TJPEGDecompressor&) = delete;

    jpeg_decompress_struct& Info() { return FInfo; }
    jpeg_decompress_struct* operator->() { return &FInfo; }

    // Runs f, which calls into libjpeg for this decompressor, and turns a
    // library error inside it into EJPEG (or rethrows what a callback
    // parked). f must keep no objects with destructors alive across its
    // libjpeg calls, since an error leaves it by longjmp. Calls do not nest.
    template <class F>
    auto Call(F&& f) -> decltype(f())
    {
        if (setjmp(FJump) != 0)
            RaiseLibraryError();
        return f();
    }

    // Source over a stream from its current position, read through a
    // 4096-byte buffer. An empty stream is the library's empty-input error;
    // a stream that ends early gets an end-of-image marker, so that a
    // truncated file decodes as far as its data reach.
    void UseStreamSource(TStream& stream);
    // Source over bytes the caller keeps alive. When the library wants more
    // than there is, the warning text (when not empty) is shown once for
    // this source and an end-of-image marker is supplied. With emptyIsError,
    // no bytes at all are the library's empty-input error, as for a stream
    // source.
    void UseMemorySource(const uint8_t* data, size_t size, const char* warningAtEnd, bool emptyIsError = false);
    // Bytes of a memory source that the library has taken (all of them once
    // it ran past the end).
    size_t SourceBytesConsumed() const;

    // The output row at which the library warned that the data ended too
    // soon (premature end of file, or a marker where entropy data belong),
    // or -1 when it did not.
    int64_t PrematureEndRow() const { return FPrematureEndRow; }

    // Called from libjpeg's progress monitor, between its units of work.
    // The monitor also ends a decode that reaches more than MaxScans scans.
    // Exceptions it raises end the libjpeg call and come out of Call.
    void SetProgress(std::function<void(const jpeg_progress_mgr&)> progress);

    // For the C callbacks: runs work, parking any exception; true when it
    // raised none. When it returns false the callback must leave through
    // LeaveLibrary at once.
    template <class F>
    bool Guarded(F&& work) noexcept
    {
        try {
            work();
            return true;
        } catch (...) {
            FPending = std::current_exception();
            return false;
        }
    }
    [[noreturn]] void LeaveLibrary();

    struct TSource;

private:
    [[noreturn]] void RaiseLibraryError();
    static void ErrorExit(j_common_ptr info);
    static void ProgressMonitor(j_common_ptr info);
    static void NoteMessage(j_common_ptr info, int level);

    jpeg_decompress_struct FInfo{};
    jpeg_error_mgr FError{};
    jpeg_progress_mgr FProgressManager{};
    std::jmp_buf FJump{};
    std::exception_ptr FPending;
    std::unique_ptr<TSource> FSource;
    std::function<void(const jpeg_progress_mgr&)> FProgress;
    int64_t FPrematureEndRow = -1;
};

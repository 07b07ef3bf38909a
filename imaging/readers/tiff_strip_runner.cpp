#include "imaging/readers/tiff_strip_runner.h"

#include "imaging/compression/jpeg_support.h"
#include "imaging/compression/tiff_jpeg_decoder.h"
#include "imaging/readers/tiff_layout.h"
#include "platform/streams.h"
#include "platform/thread_pool.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

namespace {

// Blocks are handed to the threads in runs of bitmap bytes: 16 runs a
// thread, enough to share the work evenly and to show the picture filling
// in, and runs of at least 256 KB (unless the bitmap is small) and at most
// 4 MB, so that handing them over costs little even where decoding is fast
// (uncompressed and PackBits data).
constexpr uint64_t PiecesPerThread = 16;
constexpr uint64_t MinPieceBytes = 256 * 1024;
constexpr uint64_t MaxPieceBytes = 4 << 20;
constexpr uint64_t PiecesAtLeast = 32;

} // namespace

TTIFFBlockSource::TTIFFBlockSource(TStream& stream) : FStream(stream), FSize(stream.Size())
{
    if (const auto* memory = dynamic_cast<const TMemoryStream*>(&stream))
        FMemory = memory->Memory();
}

size_t TTIFFBlockSource::ReadAt(int64_t position, uint8_t* buffer, size_t count)
{
    if (position < 0 || position >= FSize || count == 0)
        return 0;
    if (FMemory) {
        const size_t got = static_cast<size_t>(std::min<uint64_t>(count, uint64_t(FSize - position)));
        std::memcpy(buffer, FMemory + position, got);
        return got;
    }
    std::lock_guard lock(FLock);
    FStream.SetPosition(position);
    return static_cast<size_t>(std::max<int64_t>(0, FStream.Read(buffer, static_cast<int64_t>(count))));
}

// Events in the order the one-thread load reports them; rows in runs. The
// earliest row a block's data ended in is kept apart, as only the earliest
// of all counts.
struct TTIFFGraphic::TPieceLog {
    enum TKind : uint8_t { Warning, Rows, Band };
    struct TEvent {
        TKind Kind;
        bool RowByRow;  // rows each written just before they were reported
        uint32_t Value; // index into Warnings, a count of rows, or a band
        uint32_t Block; // the block reporting, counted in the piece
    };
    std::vector<TEvent> Events;
    std::vector<std::string> Warnings;
    int64_t EndedAt = -1;
    uint32_t Block = 0; // the block being decoded
    std::exception_ptr Error;
};

void TTIFFGraphic::Ended(TPieceLog* log, uint64_t row)
{
    if (!log)
        NoteEarlyEnd(row);
    else if (log->EndedAt < 0 || int64_t(row) < log->EndedAt)
        log->EndedAt = static_cast<int64_t>(row);
}

void TTIFFGraphic::RowsDone(TPieceLog* log, uint32_t rows, bool rowByRow)
{
    if (log) {
        TPieceLog::TEvent* last = log->Events.empty() ? nullptr : &log->Events.back();
        if (last && last->Kind == TPieceLog::Rows && last->RowByRow && rowByRow && last->Block == log->Block)
            last->Value += rows;
        else
            log->Events.push_back({TPieceLog::Rows, rowByRow, rows, log->Block});
        return;
    }
    TImageProperties& p = ImageProperties;
    for (uint32_t r = 0; r < rows; ++r) {
        ++p.RowIndex;
        RowDone(p.RowIndex, p.Height);
    }
}

void TTIFFGraphic::BandDone(TPieceLog* log, uint64_t band)
{
    if (log)
        log->Events.push_back({TPieceLog::Band, false, static_cast<uint32_t>(band), log->Block});
    else
        ImageProperties.StripIndex = static_cast<uint32_t>(band + 1);
}

void TTIFFGraphic::ReplayLog(const TLayout& layout, TPieceLog& log, const std::vector<TBlock>& blocks)
{
    TImageProperties& p = ImageProperties;
    if (log.EndedAt >= 0)
        NoteEarlyEnd(static_cast<uint64_t>(log.EndedAt));
    for (const TPieceLog::TEvent& event : log.Events) {
        const TBlock& block = blocks[event.Block];
        try {
            switch (event.Kind) {
            case TPieceLog::Warning:
                ShowJPEGWarning(log.Warnings[event.Value]);
                break;
            case TPieceLog::Rows:
                for (uint32_t r = 0; r < event.Value; ++r) {
                    ++p.RowIndex;
                    RowDone(p.RowIndex, p.Height);
                }
                break;
            case TPieceLog::Band:
                p.StripIndex = event.Value + 1;
                break;
            }
        } catch (...) {
            // A warning came in the middle of the block's decoding, where it
            // is not known how far; none of the block is left.
            const uint32_t written = event.Kind == TPieceLog::Warning ? block.FirstRow
                                     : event.RowByRow                 ? p.RowIndex
                                                                      : block.FirstRow + block.Rows;
            ClearBlock(layout, block, std::max(written, block.FirstRow));
            for (size_t later = event.Block + 1; later < blocks.size(); ++later)
                ClearBlock(layout, blocks[later], blocks[later].FirstRow);
            throw;
        }
    }
    if (log.Error)
        std::rethrow_exception(log.Error);
    log = TPieceLog();
}

void TTIFFGraphic::ClearBlock(const TLayout& layout, const TBlock& block, uint32_t row)
{
    const size_t stride = static_cast<size_t>(RowStride());
    const size_t tileBytes = static_cast<size_t>(uint64_t(layout.BlockWidth) * layout.BitmapBits / 8);
    const size_t left = layout.Tiled ? static_cast<size_t>(block.Across) * tileBytes : 0;
    const size_t bytes = layout.Tiled ? std::min(tileBytes, stride - left) : stride;
    for (uint32_t y = row; y < block.FirstRow + block.Rows; ++y)
        std::memset(ScanLine(static_cast<int>(y)) + left, 0, bytes);
}

bool TTIFFGraphic::BlocksIndependent(const TLayout& layout)
{
    // Only JPEG decoders carry something (tables) from one block to the next.
    if (ImageProperties.CompressionKind != ckJPEG)
        return true;
    bool none = true;
    bool own = true;
    std::vector<uint8_t> buffer;
    for (size_t index = 0; index < layout.Offsets.size() && (none || own); ++index) {
        const int64_t start = BlockStart(layout, index, 0);
        const uint64_t size =
            std::min<uint64_t>(layout.ByteCounts[index], uint64_t(std::max<int64_t>(0, layout.StreamSize - start)));
        const uint8_t* data = layout.Source->Memory() ? layout.Source->Memory() + start : nullptr;
        if (!data) {
            buffer.resize(static_cast<size_t>(size));
            buffer.resize(layout.Source->ReadAt(start, buffer.data(), buffer.size()));
            data = buffer.data();
        }
        const TJPEGTableUse use = JPEGTableUse(data, static_cast<size_t>(size));
        none = none && use == TJPEGTableUse::None;
        own = own && use == TJPEGTableUse::Own;
    }
    return none || own;
}

void TTIFFGraphic::DecodeBlocks(TStream& stream, TLayout& layout, TDecoder* decoder)
{
    TImageProperties& p = ImageProperties;
    TTIFFBlockSource source(stream);
    layout.Source = &source;

    // The bands (strips, or rows of tiles) in the order the rows take them,
    // as far as the file has blocks for them: first row of each, then the
    // row after the last.
    std::vector<uint32_t> bandRow;
    for (uint32_t row = 0;;) {
        bandRow.push_back(row);
        const uint64_t band = bandRow.size() - 1;
        if (row >= p.Height)
            break;
        uint32_t rows;
        if (layout.Tiled) {
            if (band * layout.BlocksAcross >= layout.Offsets.size())
                break;
            rows = std::min(p.TileLength, p.Height - row);
        } else {
            if (band >= layout.BlocksPerPlane || band >= layout.Offsets.size())
                break;
            const size_t index = std::min<size_t>(band, p.RowsPerStrip.size() - 1);
            rows = std::min(p.RowsPerStrip[index] ? p.RowsPerStrip[index] : p.Height, p.Height - row);
        }
        row += rows;
    }
    const size_t bands = bandRow.size() - 1;
    const uint64_t units = bands * layout.BlocksAcross;
    const auto blockAt = [&](uint64_t unit) {
        const uint64_t band = unit / layout.BlocksAcross;
        return TBlock{band, unit % layout.BlocksAcross, bandRow[band], bandRow[band + 1] - bandRow[band]};
    };

    // Runs of blocks, each of about PieceBytes of the bitmap.
    const uint64_t unitBytes = layout.Tiled ? uint64_t(layout.BlockWidth) * layout.BitmapBits / 8 : RowStride();
    const uint64_t image = uint64_t(ImageSize());
    const uint64_t pieceBytes =
        std::min(std::clamp(image / (PiecesPerThread * pwthreads::ThreadCount()), MinPieceBytes, MaxPieceBytes),
                 image / PiecesAtLeast);
    std::vector<uint64_t> pieceStart;
    uint64_t bytes = pieceBytes;
    for (uint64_t unit = 0; unit < units; ++unit) {
        if (bytes >= pieceBytes) {
            pieceStart.push_back(unit);
            bytes = 0;
        }
        bytes += unitBytes * blockAt(unit).Rows;
    }
    pieceStart.push_back(units);
    const size_t pieces = pieceStart.size() - 1;
    const auto blocksOf = [&](size_t piece) {
        std::vector<TBlock> blocks;
        for (uint64_t unit = pieceStart[piece]; unit < pieceStart[piece + 1]; ++unit)
            blocks.push_back(blockAt(unit));
        return blocks;
    };

    unsigned threads = static_cast<unsigned>(std::min<size_t>(pwthreads::ThreadCount(), pieces));
    if (threads > 1 && !BlocksIndependent(layout))
        threads = 1;
    // Each thread its own decoder, made and started here as the load's was.
    std::vector<TWorkspace> workspaces(std::max(threads, 1u));
    workspaces[0].Decoder = decoder;
    workspaces[0].DecoderProperties = &FDecoderProperties;
    for (size_t slot = 1; slot < workspaces.size(); ++slot) {
        TWorkspace& work = workspaces[slot];
        work.OwnProperties = FDecoderProperties;
        work.DecoderProperties = &work.OwnProperties;
        work.OwnDecoder = decoder ? CreateDecoder(work.OwnProperties) : nullptr;
        work.Decoder = work.OwnDecoder.get();
        if (work.Decoder)
            work.Decoder->ExpandStart();
    }
    if (units > 0)
        ScanLine(0); // the pixels are allocated before any thread writes them
    ColorManager().ConvertsInPlace(); // and the row routine chosen

    const auto decodePiece = [&](size_t piece, TWorkspace& work, TPieceLog* log) {
        for (uint64_t unit = pieceStart[piece]; unit < pieceStart[piece + 1]; ++unit) {
            if (log)
                log->Block = static_cast<uint32_t>(unit - pieceStart[piece]);
            DecodeUnit(layout, work, blockAt(unit), log);
        }
    };
    pwthreads::TOrderedWork work;
    work.Count = pieces;
    if (threads == 1) {
        work.Work = [&](size_t piece, unsigned) { decodePiece(piece, workspaces[0], nullptr); };
        work.Commit = [](size_t) {};
        pwthreads::RunOrdered(work, 1);
        return;
    }
    std::vector<TPieceLog> logs(pieces);
    work.Work = [&](size_t piece, unsigned slot) {
        TPieceLog& log = logs[piece];
        const TJPEGWarningCapture capture([&log](const std::string& text) {
            log.Events.push_back({TPieceLog::Warning, false, static_cast<uint32_t>(log.Warnings.size()), log.Block});
            log.Warnings.push_back(text);
        });
        try {
            decodePiece(piece, workspaces[slot], &log);
        } catch (...) {
            log.Error = std::current_exception();
        }
    };
    work.Commit = [&](size_t piece) { ReplayLog(layout, logs[piece], blocksOf(piece)); };
    // Nothing of a block after a failed one may remain: the rows it wrote
    // are zero again, as the fresh bitmap had them.
    work.Undo = [&](size_t piece) {
        for (const TBlock& block : blocksOf(piece))
            ClearBlock(layout, block, block.FirstRow);
    };
    pwthreads::RunOrdered(work, threads);
    for (size_t slot = 1; slot < workspaces.size(); ++slot)
        if (workspaces[slot].Decoder)
            workspaces[slot].Decoder->ExpandFinish();
}

#pragma once
// The record players of the two metafile kinds and the shared bitmap decoding.
#include <QImage>
#include <QRgb>

#include <cstdint>
#include <vector>

class TGdiContext;
class TRecordData;

// Plays WMF records from offset start up to the end record.
void PlayWmfRecords(const uint8_t* data, uint64_t size, uint64_t start, TGdiContext& context);
// Plays EMF records after the header record (headerSize bytes) up to the end record.
void PlayEmfRecords(const uint8_t* data, uint64_t size, uint64_t headerSize, TGdiContext& context);

// A device-independent bitmap inside a record: its header and colour table at
// infoOffset (infoSize bytes), its bits at bitsOffset (bitsSize bytes; for a
// packed DIB, the bytes after the colour table: pass bitsOffset 0). usage 1
// means the colour table holds indexes into palette. bottomUp tells how the
// rows are stored. A DIB that does not decode raises the broken-record error.
QImage DibImage(const TRecordData& record, uint64_t infoOffset, uint64_t infoSize, uint64_t bitsOffset,
                uint64_t bitsSize, uint32_t usage, const std::vector<QRgb>& palette, bool* bottomUp = nullptr);

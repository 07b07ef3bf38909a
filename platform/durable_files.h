#pragma once
// Putting a finished file into place so that a power cut cannot take it: the
// file's data reach the disk before a rename shows them under the final
// name, and the folder's entry reaches the disk after the rename. Without the
// first a crash can leave an empty file under the final name; without the
// second, the old file or none. Every place that puts a file into place goes
// through here. Failures raise the runtime I/O error ("Disk full", ...).
#include <functional>
#include <string>

// Flushes the data of an open file to the disk.
void SyncFile(int handle, const std::string& fileName);
// The same for a closed file, a converter's output for instance.
void SyncFile(const std::string& fileName);
// Flushes a folder's entries (files created, renamed or removed in it).
void SyncFolder(const std::string& folder);
// The folder a file name lies in ("." for a bare name).
std::string FolderOf(const std::string& fileName);

// Renames a file whose data are on disk already, then flushes the folder of
// to. (A name left behind in another folder by a crash is only a leftover.)
void RenameDurably(const std::string& from, const std::string& to);

// Creates or truncates fileName, writes text and flushes it to the disk. A
// failure removes what was written.
void WriteFileSynced(const std::string& fileName, const std::string& text);
// Puts text under fileName whole or not at all: written and synced under a
// temporary name beside it (".NAME.XXXXXX"), then renamed durably. When
// anything fails, an earlier file of that name stays as it was.
void ReplaceFileDurably(const std::string& fileName, const std::string& text);

// What the calls above did, in order, for a test of the order: SyncFile and
// SyncFolder report the name synced, Rename "FROM -> TO".
enum class TDurableStep { SyncFile, Rename, SyncFolder };
using TDurableObserver = std::function<void(TDurableStep step, const std::string& name)>;
// Sets the observer (empty: none); returns the one set before.
TDurableObserver SetDurableObserver(TDurableObserver observer);

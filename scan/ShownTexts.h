#pragma once
// The texts the window shows for rows and totals, made without a window: the command line
// prints the same cells and the same summaries, in the same words.

#include <QString>
#include <cstddef>
#include <string>
#include <vector>

#include "scan/CheckTemps.h"
#include "scan/FieldKind.h"
#include "scan/FileNodeData.h"

namespace purgala {

// What a cell of `kind` shows for `data` (nullptr: no row): sizes in B, KB, MB or GB, every
// other kind as stored. A size that is not a number shows as an empty text.
std::string FormatCellText(TFieldKind kind, const TFileNodeData* data);
// A number of bytes as the "File Size" column shows it: two decimals in the user's locale, in
// B, KB, MB or GB.
QString SizeText(double bytes);

// "12,345", with the user's thousands separator.
QString CountText(std::size_t count);
// "12,345 files", "1 file".
QString FilesText(std::size_t count);
// "12,345 files (3.21 GB)"; `withWord` false drops the word "files".
QString TotalsText(const TFileCount& totals, bool withWord = true);

// What one "&Check Temps" of `folders` folders found: what is listed and what is checked (or
// that nothing matched), what the rules kept, and how many folders could not be read.
QString CheckTotalsText(const TCheckTotals& totals, std::size_t folders, bool listedNothing,
                        std::size_t unreadable);
// The folders that could not be read, one "path: reason" a line; past `named` of them, how
// many more.
QString UnreadableText(const std::vector<TUnreadableFolder>& folders, std::size_t named);
// What leads the totals after "&Check Temps": where it was stopped (when `stopped`), and the
// folders whose age is no whole number of days; empty when neither.
QString CheckLeadText(const TCheckTempsResult& result, const std::vector<TFolderSpec>& setups,
                      bool stopped);
// The progress of "&Check Temps": "Scanning /tmp/: 1,234 files found so far".
QString ScanningText(const std::string& folder, std::size_t listed);
// What "&Delete" did: "12 files deleted, 1.00 MB freed", or the same moved to the trash.
QString RemovedText(const TFileCount& removed, bool toTrash);
// "Stopped while deleting in /tmp; " + `lead`, or the same for the trash.
QString StoppedRemovingText(const std::string& folder, bool toTrash, const QString& lead);

}  // namespace purgala

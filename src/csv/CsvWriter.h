#pragma once

#include "EntryList.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QIODevice;

namespace kartoma {

enum class CsvEncoding {
    Cp932, ///< the Japanese Windows code page, no byte-order mark (the list's own format)
    Utf8,  ///< UTF-8 with a byte-order mark, for tools that want Unicode
};

struct CsvResult {
    std::uint64_t lines = 0;              ///< entry lines written, the header not counted
    std::uint64_t replacedCharacters = 0; ///< characters written as "?" because CP932 cannot hold them
};

/// Appends `utf8` as a quoted CSV text field: in double quotes, inner quotes doubled.
void appendQuotedField(std::string_view utf8, std::string& out);

/// Writes the list as CSV: the header line, then one line per entry in list order, each ending in
/// CR LF. Text fields are quoted with inner quotes doubled, so any name reads back as itself; the
/// size is a bare decimal number; the sixth field is the list's volume label.
///
/// Throws Failure(OutputWrite) when the device does not take the bytes. `checkpoint` (if any) is
/// called every few thousand lines; what it throws ends the writing.
CsvResult writeCsv(const EntryList& list, CsvEncoding encoding, QIODevice& out,
                   const QString& pathForMessages, const std::function<void()>& checkpoint = {});

/// A CSV file written while its list still grows, for a list whose place is known before the walk:
/// each `append` writes the lines of the entries recorded since the one before, `commit` the rest,
/// then puts the file in place as saveCsv does. Nothing is left if it is destroyed uncommitted.
class CsvFile {
public:
    /// Throws Failure(OutputCreate) when the file cannot be made.
    CsvFile(CsvEncoding encoding, const QString& path);
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    /// Writes the entries of `list` recorded since the last call (the list's volume label is read on
    /// the first). A failure to write is kept for `commit` to throw, so that the list is still
    /// completed first; what `checkpoint` throws goes through.
    void append(const EntryList& list, const std::function<void()>& checkpoint = {});
    /// Writes the rest of `list` and puts the file in place. Throws Failure on any error, and what
    /// `checkpoint` throws; the file at `path` is then left as it was.
    CsvResult commit(const EntryList& list, const std::function<void()>& checkpoint = {});

private:
    struct Writing;
    std::unique_ptr<Writing> writing_;
};

/// Writes the list to the file at `path` atomically: the file appears complete or not at all, and
/// an existing file is replaced only once the new one is written. Throws Failure on any error, and
/// what `checkpoint` throws; the file is then left as it was.
CsvResult saveCsv(const EntryList& list, CsvEncoding encoding, const QString& path,
                  const std::function<void()>& checkpoint = {});

} // namespace kartoma

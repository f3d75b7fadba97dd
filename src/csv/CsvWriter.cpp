#include "CsvWriter.h"

#include "Cp932Encoder.h"
#include "Failure.h"
#include "NameText.h"
#include "NativePath.h"
#include "OutputFile.h"
#include "Utf8.h"

#include <QFile>

#include <cerrno>
#include <charconv>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace kartoma {

namespace {

constexpr std::size_t kFlushBytes = 1 << 20;

void appendQuotesDoubled(std::string_view bytes, std::string& out) {
    // The runs between quotes whole, each quote twice.
    for (std::size_t at = 0;;) {
        const std::size_t quote = bytes.find('"', at);
        if (quote == std::string_view::npos) {
            out.append(bytes.substr(at));
            return;
        }
        out.append(bytes.substr(at, quote + 1 - at));
        out += '"';
        at = quote + 1;
    }
}

/// Builds the file's bytes field by field, and hands them to the device in large pieces.
class CsvBuilder {
public:
    CsvBuilder(CsvEncoding encoding, QIODevice& device, const QString& path)
        : encoding_(encoding), encoder_(Cp932Encoder::instance()), device_(device), path_(path) {
        buffer_.reserve(kFlushBytes + 64 * 1024);
    }

    void text(QStringView value) {
        if (encoding_ == CsvEncoding::Cp932) {
            buffer_ += '"';
            appendCp932(value);
            buffer_ += '"';
        } else {
            const QByteArray utf8 = value.toUtf8();
            appendQuotedField(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                              buffer_);
        }
    }

    /// A text field given as the bytes of a name or a path, straight from the file system.
    void bytesField(std::string_view value) {
        // ASCII is the same in both encodings.
        if (isAscii(value)) {
            appendQuotedField(value, buffer_);
            return;
        }
        if (encoding_ == CsvEncoding::Utf8) {
            text(pathText(value));
            return;
        }
        // A CP932 name is already what a CP932 file holds (a double quote is never part of a CP932
        // double-byte character); a path may join such names with UTF-8 ones, so each is looked at.
        buffer_ += '"';
        for (std::size_t begin = 0;;) {
            const std::size_t slash = value.find('/', begin);
            const std::string_view name =
                value.substr(begin, slash == std::string_view::npos ? slash : slash - begin);
            if (isAscii(name)) {
                appendQuotesDoubled(name, buffer_);
            } else if (encoder_.appendUtf8(name, buffer_, replaced_, true)) {
                // UTF-8, the usual case, encoded as it is read.
            } else if (nameEncoding(name) == NameEncoding::Cp932) {
                appendQuotesDoubled(name, buffer_);
            } else {
                // The bytes that are no text are counted with the names, not again as characters
                // CP932 lacks (UTF-8 output would not bring them back either).
                const QString text = nameText(name);
                appendCp932(text);
                replaced_ -= static_cast<std::uint64_t>(text.count(QChar::ReplacementCharacter));
            }
            if (slash == std::string_view::npos) {
                break;
            }
            buffer_ += '/';
            begin = slash + 1;
        }
        buffer_ += '"';
    }

    /// Appends `text` in CP932, counting the characters it lacks.
    void appendCp932(QStringView text) { encoder_.append(text, buffer_, replaced_, true); }

    /// A field that was encoded once and is written again as it is.
    void raw(std::string_view bytes) { buffer_.append(bytes); }

    /// A text field encoded once, for values repeated on many lines.
    struct Encoded {
        std::string bytes;
        std::uint64_t replaced = 0;
    };
    Encoded encodedText(QStringView value) {
        return encodedField([&] { text(value); });
    }
    /// A field of bytesField encoded once.
    Encoded encodedBytes(std::string_view value) {
        return encodedField([&] { bytesField(value); });
    }
    /// Writes a field encoded by encodedText; its replaced characters count once per line written.
    void encoded(const Encoded& field) {
        buffer_.append(field.bytes);
        replaced_ += field.replaced;
    }

    void number(std::int64_t value) {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        buffer_.append(digits, result.ptr);
    }

    void comma() { buffer_ += ','; }
    void endLine() {
        buffer_ += "\r\n";
        if (buffer_.size() >= kFlushBytes) {
            flush();
        }
    }

    void flush() {
        if (buffer_.empty()) {
            return;
        }
        errno = 0;
        const qint64 written = device_.write(buffer_.data(), static_cast<qint64>(buffer_.size()));
        if (written != static_cast<qint64>(buffer_.size())) {
            // The system's reason (a full disk, a file too large) says more than the device's.
            const int err = errno;
            throw Failure(FailureCode::OutputWrite, path_,
                          err != 0 ? systemErrorText(err) : device_.errorString());
        }
        buffer_.clear();
    }

    std::uint64_t replaced() const { return replaced_; }

private:
    template <typename Write> Encoded encodedField(Write&& write) {
        Encoded field;
        field.bytes.swap(buffer_);
        const std::uint64_t before = replaced_;
        write();
        field.bytes.swap(buffer_);
        field.replaced = replaced_ - before;
        replaced_ = before;
        return field;
    }

    CsvEncoding encoding_;
    const Cp932Encoder& encoder_;
    QIODevice& device_;
    const QString& path_;
    std::string buffer_;
    std::uint64_t replaced_ = 0;
};

} // namespace

void appendQuotedField(std::string_view utf8, std::string& out) {
    out += '"';
    appendQuotesDoubled(utf8, out);
    out += '"';
}

namespace {

/// The lines of one list, written as its entries are recorded.
class CsvLines {
public:
    CsvLines(CsvEncoding encoding, QIODevice& out, const QString& pathForMessages)
        : csv_(encoding, out, pathForMessages) {
        if (encoding == CsvEncoding::Utf8) {
            csv_.raw("\xEF\xBB\xBF");
        }
        for (std::size_t i = 0; i < kColumnTitles.size(); ++i) {
            if (i > 0) {
                csv_.comma();
            }
            csv_.text(QString::fromUtf8(kColumnTitles[i].data(), static_cast<qsizetype>(kColumnTitles[i].size())));
        }
        csv_.endLine();
        fileType_ = csv_.encodedText(u"F");
        folderType_ = csv_.encodedText(u"D");
    }

    /// Writes the lines of the entries recorded since the last call.
    void write(const EntryList& list, const std::function<void()>& checkpoint) {
        if (next_ == 0) {
            // A label that is a folder's path keeps that path's bytes, as the folder column does.
            const QString& label = list.volumeLabel();
            volume_ = hasEscapedBytes(label) ? csv_.encodedBytes(toNativePath(label)) : csv_.encodedText(label);
        }
        const std::size_t count = list.count();
        for (std::size_t i = next_; i < count; ++i) {
            if (checkpoint && (i & 4095) == 4095) {
                checkpoint();
            }
            const EntryList::Record& r = list.record(i);
            if (!haveFolder_ || r.folder != cachedFolder_) {
                folder_ = csv_.encodedBytes(list.folderBytes(r.folder));
                cachedFolder_ = r.folder;
                haveFolder_ = true;
            }
            csv_.bytesField(r.nameBytes());
            csv_.comma();
            csv_.encoded(folder_);
            csv_.comma();
            csv_.number(r.size);
            // Date and time: "yyyy/mm/dd","hh:mm:ss" with their quotes and the commas around them.
            char stamp[32];
            char* p = stamp;
            *p++ = ',';
            *p++ = '"';
            p = writeDateText(r.stamp, p);
            *p++ = '"';
            *p++ = ',';
            *p++ = '"';
            p = writeTimeText(r.stamp, p);
            *p++ = '"';
            *p++ = ',';
            csv_.raw(std::string_view(stamp, static_cast<std::size_t>(p - stamp)));
            csv_.encoded(volume_);
            csv_.comma();
            csv_.encoded(r.type == EntryType::Folder ? folderType_ : fileType_);
            csv_.endLine();
        }
        next_ = count;
    }

    CsvResult finish() {
        csv_.flush();
        return CsvResult{next_, csv_.replaced()};
    }

private:
    CsvBuilder csv_;
    CsvBuilder::Encoded volume_;
    CsvBuilder::Encoded fileType_;
    CsvBuilder::Encoded folderType_;
    CsvBuilder::Encoded folder_;
    std::uint32_t cachedFolder_ = 0;
    bool haveFolder_ = false;
    std::size_t next_ = 0;
};

} // namespace

CsvResult writeCsv(const EntryList& list, CsvEncoding encoding, QIODevice& out,
                   const QString& pathForMessages, const std::function<void()>& checkpoint) {
    CsvLines lines(encoding, out, pathForMessages);
    lines.write(list, checkpoint);
    return lines.finish();
}

struct CsvFile::Writing {
    QString path;
    OutputFile output;
    QFile file;
    std::optional<CsvLines> lines;
    std::exception_ptr failed;
};

CsvFile::CsvFile(CsvEncoding encoding, const QString& path) : writing_(std::make_unique<Writing>()) {
    Writing& w = *writing_;
    w.path = path;
    if (const int err = w.output.open(toNativePath(path)); err != 0) {
        throw outputFailure(err, FailureCode::OutputCreate, path);
    }
    if (!w.file.open(w.output.descriptor(), QIODevice::WriteOnly | QIODevice::Unbuffered,
                     QFileDevice::DontCloseHandle)) {
        throw Failure(FailureCode::OutputCreate, path, w.file.errorString());
    }
    w.lines.emplace(encoding, w.file, w.path);
}

CsvFile::~CsvFile() = default;

void CsvFile::append(const EntryList& list, const std::function<void()>& checkpoint) {
    Writing& w = *writing_;
    if (w.failed) {
        return;
    }
    try {
        w.lines->write(list, checkpoint);
    } catch (const Failure& failure) {
        if (failure.code() != FailureCode::OutputWrite) {
            throw;
        }
        w.failed = std::current_exception();
    }
}

CsvResult CsvFile::commit(const EntryList& list, const std::function<void()>& checkpoint) {
    Writing& w = *writing_;
    if (w.failed) {
        std::rethrow_exception(w.failed);
    }
    w.lines->write(list, checkpoint);
    const CsvResult result = w.lines->finish();
    w.file.close();
    if (w.file.error() != QFileDevice::NoError) {
        throw Failure(FailureCode::OutputWrite, w.path, w.file.errorString());
    }
    if (const int err = w.output.commit(); err != 0) {
        throw outputFailure(err, FailureCode::OutputCommit, w.path);
    }
    return result;
}

CsvResult saveCsv(const EntryList& list, CsvEncoding encoding, const QString& path,
                  const std::function<void()>& checkpoint) {
    CsvFile file(encoding, path);
    return file.commit(list, checkpoint);
}

} // namespace kartoma

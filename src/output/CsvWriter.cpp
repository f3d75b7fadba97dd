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
#include <string>
#include <string_view>

namespace kartoma {

namespace {

constexpr std::size_t kFlushBytes = 1 << 20;

void appendQuotesDoubled(std::string_view bytes, std::string& out) {
    for (const char c : bytes) {
        if (c == '"') {
            out += '"';
        }
        out += c;
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

CsvResult writeCsv(const EntryList& list, CsvEncoding encoding, QIODevice& out,
                   const QString& pathForMessages, const std::function<void()>& checkpoint) {
    CsvBuilder csv(encoding, out, pathForMessages);
    if (encoding == CsvEncoding::Utf8) {
        csv.raw("\xEF\xBB\xBF");
    }
    const QStringView headers[] = {u"ファイル名", u"ディレクトリ", u"サイズ", u"日付",
                                   u"時間",       u"ボリューム",   u"TYPE"};
    for (std::size_t i = 0; i < std::size(headers); ++i) {
        if (i > 0) {
            csv.comma();
        }
        csv.text(headers[i]);
    }
    csv.endLine();

    // A label that is a folder's path keeps that path's bytes, as the folder column does.
    const QString& label = list.volumeLabel();
    const CsvBuilder::Encoded volume =
        hasEscapedBytes(label) ? csv.encodedBytes(toNativePath(label)) : csv.encodedText(label);
    const CsvBuilder::Encoded fileType = csv.encodedText(u"F");
    const CsvBuilder::Encoded folderType = csv.encodedText(u"D");
    std::uint32_t cachedFolder = 0;
    CsvBuilder::Encoded folder;
    bool haveFolder = false;

    const std::size_t count = list.count();
    for (std::size_t i = 0; i < count; ++i) {
        if (checkpoint && (i & 4095) == 4095) {
            checkpoint();
        }
        const EntryList::Record& r = list.record(i);
        if (!haveFolder || r.folder != cachedFolder) {
            folder = csv.encodedBytes(list.folderBytes(r.folder));
            cachedFolder = r.folder;
            haveFolder = true;
        }
        csv.bytesField(r.nameBytes());
        csv.comma();
        csv.encoded(folder);
        csv.comma();
        csv.number(r.size);
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
        csv.raw(std::string_view(stamp, static_cast<std::size_t>(p - stamp)));
        csv.encoded(volume);
        csv.comma();
        csv.encoded(r.type == EntryType::Folder ? folderType : fileType);
        csv.endLine();
    }
    csv.flush();
    return CsvResult{count, csv.replaced()};
}

CsvResult saveCsv(const EntryList& list, CsvEncoding encoding, const QString& path,
                  const std::function<void()>& checkpoint) {
    OutputFile output;
    if (const int err = output.open(toNativePath(path)); err != 0) {
        throw Failure(FailureCode::OutputCreate, path, outputErrorText(err));
    }
    QFile file;
    if (!file.open(output.descriptor(), QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::DontCloseHandle)) {
        throw Failure(FailureCode::OutputCreate, path, file.errorString());
    }
    const CsvResult result = writeCsv(list, encoding, file, path, checkpoint);
    file.close();
    if (file.error() != QFileDevice::NoError) {
        throw Failure(FailureCode::OutputWrite, path, file.errorString());
    }
    if (const int err = output.commit(); err != 0) {
        throw Failure(FailureCode::OutputCommit, path, outputErrorText(err));
    }
    return result;
}

} // namespace kartoma

// A name through the CSV writer: the file parses back (quotes doubled, nothing else escaped) to the
// name as CP932 can hold it, and every "?" put in for a character it cannot hold is counted.
#include "Cp932Encoder.h"
#include "CsvWriter.h"
#include "NameText.h"
#include "check.h"

#include <QBuffer>
#include <QStringDecoder>

#include <cstdint>
#include <string>

namespace {

/// The fields of one CSV record that starts at `at`, RFC 4180 style.
std::vector<std::string> record(const std::string& text, std::size_t& at) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    while (at < text.size()) {
        const char c = text[at++];
        if (quoted) {
            if (c == '"') {
                if (at < text.size() && text[at] == '"') {
                    field += '"';
                    ++at;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else if (c == '\r' && at < text.size() && text[at] == '\n') {
            ++at;
            break;
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 512) {
        return 0;
    }
    const std::string name(reinterpret_cast<const char*>(data), size);
    kartoma::EntryList list;
    list.setVolumeLabel(QStringLiteral("ラベル"));
    list.append(list.addFolder("/d"), name, 42, kartoma::LocalStamp{2026, 12, 8, 1, 2, 3},
                kartoma::EntryType::File);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const kartoma::CsvResult result =
        kartoma::writeCsv(list, kartoma::CsvEncoding::Cp932, buffer, QStringLiteral("x"));

    const std::string text = bytes.toStdString();
    std::size_t at = 0;
    FUZZ_CHECK(record(text, at).size() == 7);
    const std::vector<std::string> fields = record(text, at);
    FUZZ_CHECK(fields.size() == 7);
    FUZZ_CHECK(at == text.size());
    FUZZ_CHECK(fields[2] == "42" && fields[6] == "F");

    // What the name should read back as: a CP932 name as its own bytes; any other each character as
    // CP932 holds it, or "?".
    const QString original = kartoma::nameText(name);
    std::string expected;
    std::uint64_t replaced = 0;
    if (kartoma::nameEncoding(name) == kartoma::NameEncoding::Cp932) {
        expected = name;
    } else {
        kartoma::Cp932Encoder::instance().append(original, expected, replaced, false);
        // U+FFFD for bytes that were no text: those are counted with the names instead.
        if (kartoma::nameEncoding(name) == kartoma::NameEncoding::Neither) {
            replaced -= static_cast<std::uint64_t>(original.count(QChar::ReplacementCharacter));
        }
    }
    FUZZ_CHECK(fields[0] == expected);
    FUZZ_CHECK(result.replacedCharacters == replaced);
    QStringDecoder decoder("windows-31j", QStringDecoder::Flag::Stateless);
    const QString back = decoder.decode(QByteArray::fromStdString(fields[0]));
    FUZZ_CHECK(back.size() <= original.size());
    return 0;
}

#include "CsvWriter.h"
#include "EnglishMessages.h"
#include "Cp932Encoder.h"
#include "Failure.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>

namespace kartoma {
namespace {

const LocalStamp kStamp{1999, 3, 5, 9, 5, 0};

std::string csvOf(const EntryList& list, CsvEncoding encoding = CsvEncoding::Cp932,
                  CsvResult* result = nullptr) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const CsvResult r = writeCsv(list, encoding, buffer, QStringLiteral("test.csv"));
    if (result != nullptr) {
        *result = r;
    }
    return bytes.toStdString();
}

std::string cp932(const QString& text) {
    std::string out;
    std::uint64_t replaced = 0;
    Cp932Encoder::instance().append(text, out, replaced, false);
    return out;
}

const std::string kHeader = cp932(QStringLiteral(
    "\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"日付\",\"時間\",\"ボリューム\",\"TYPE\"\r\n"));

TEST(CsvWriter, AnEmptyListIsTheHeaderAlone) {
    EntryList list;
    EXPECT_EQ(csvOf(list), kHeader);
    // The header in CP932 bytes, no byte-order mark.
    EXPECT_EQ(kHeader.substr(0, 5), std::string("\"\x83t\x83@", 5));
}

TEST(CsvWriter, EntryLinesFollowTheFieldRules) {
    EntryList list;
    list.setVolumeLabel(QStringLiteral("DATA"));
    const std::uint32_t doc = list.addFolder("/mnt/DOC");
    list.append(doc, "a.txt", 1234, kStamp, EntryType::File);
    list.append(doc, "sub", 0, LocalStamp{2026, 12, 8, 23, 59, 58}, EntryType::Folder);
    list.append(doc, "big.iso", 5LL << 30, kStamp, EntryType::File);
    EXPECT_EQ(csvOf(list),
              kHeader + "\"a.txt\",\"/mnt/DOC\",1234,\"1999/03/05\",\"09:05:00\",\"DATA\",\"F\"\r\n"
                        "\"sub\",\"/mnt/DOC\",0,\"2026/12/08\",\"23:59:58\",\"DATA\",\"D\"\r\n"
                        "\"big.iso\",\"/mnt/DOC\",5368709120,\"1999/03/05\",\"09:05:00\",\"DATA\",\"F\"\r\n");
}

TEST(CsvWriter, QuotesAreDoubledSoEveryNameReadsBackAsItself) {
    EntryList list;
    const std::uint32_t f = list.addFolder("/a \"b\"");
    list.append(f, "say \"hi\", twice\r\n.txt", 1, kStamp, EntryType::File);
    list.append(f, "\xe5\xbc\x95\xe7\x94\xa8\"\xe7\xac\xa6.txt", 2, kStamp, EntryType::File); // 引用"符.txt
    const std::string csv = csvOf(list);
    EXPECT_NE(csv.find("\"say \"\"hi\"\", twice\r\n.txt\",\"/a \"\"b\"\"\",1,"), std::string::npos);
    EXPECT_NE(
        csv.find("\"" + cp932(QStringLiteral("引用")) + "\"\"" + cp932(QStringLiteral("符.txt")) + "\""),
        std::string::npos);
    // An empty label is written as "".
    EXPECT_NE(csv.find(",\"09:05:00\",\"\",\"F\"\r\n"), std::string::npos);
}

TEST(Cp932Encoder, WritesWhatWindowsWritesAndReplacesTheRest) {
    const Cp932Encoder& e = Cp932Encoder::instance();
    // Plain kana and kanji, half-width katakana, the backslash and tilde bytes.
    EXPECT_EQ(cp932(QStringLiteral("あ")), "\x82\xA0");
    EXPECT_EQ(cp932(QStringLiteral("漢")), "\x8A\xBF");
    EXPECT_EQ(cp932(QStringLiteral("ｱ")), "\xB1");
    EXPECT_EQ(cp932(QStringLiteral("\\~")), "\\~");
    // The JIS variants that other converters produce go where Windows puts them.
    EXPECT_EQ(e.codeOf(U'\u301C'), 0x8160);
    EXPECT_EQ(e.codeOf(U'\uFF5E'), 0x8160);
    EXPECT_EQ(e.codeOf(U'\u2016'), 0x8161);
    EXPECT_EQ(e.codeOf(U'\u2212'), 0x817C);
    EXPECT_EQ(e.codeOf(U'\u00A2'), 0x8191);
    EXPECT_EQ(e.codeOf(U'\u00A3'), 0x8192);
    EXPECT_EQ(e.codeOf(U'\u00AC'), 0x81CA);
    EXPECT_EQ(e.codeOf(U'\u2014'), 0x815C);
    // Characters with several forms take the one Windows writes.
    EXPECT_EQ(e.codeOf(U'\u2252'), 0x81E0); // JIS row, not NEC row 13
    EXPECT_EQ(e.codeOf(U'\u2160'), 0x8754); // NEC row 13, not IBM
    EXPECT_EQ(e.codeOf(U'\u2170'), 0xFA40); // IBM, not NEC-selected IBM
    EXPECT_EQ(e.codeOf(U'\u7E8A'), 0xFA5C);
    EXPECT_EQ(e.codeOf(U'\uFFE2'), 0x81CA);

    std::string out;
    std::uint64_t replaced = 0;
    e.append(QStringLiteral("é😀한\uFFFD\xD800x"), out, replaced, false);
    EXPECT_EQ(out, "?????x");
    EXPECT_EQ(replaced, 5u);
}

TEST(Cp932Encoder, Utf8GivesTheBytesOfItsTextAndInvalidBytesAreRefused) {
    const Cp932Encoder& e = Cp932Encoder::instance();
    // Kana, kanji, half-width katakana, a variant, quotes, U+FFFD itself, beyond the BMP, Hangul.
    for (const char* utf8 : {"plain.txt", "\xe5\xbc\x95\xe7\x94\xa8\"\xe7\xac\xa6", "\xef\xbd\xb1\xe3\x80\x9c",
                             "\xef\xbf\xbd", "a\xf0\x9f\x98\x80" "b", "\xed\x95\x9c\"\""}) {
        for (const bool quotes : {false, true}) {
            std::string viaUtf16 = "x";
            std::string direct = "x";
            std::uint64_t replacedViaUtf16 = 1;
            std::uint64_t replacedDirect = 1;
            e.append(QString::fromUtf8(utf8), viaUtf16, replacedViaUtf16, quotes);
            EXPECT_TRUE(e.appendUtf8(utf8, direct, replacedDirect, quotes));
            EXPECT_EQ(direct, viaUtf16) << utf8;
            EXPECT_EQ(replacedDirect, replacedViaUtf16) << utf8;
        }
    }
    // Not UTF-8 (CP932 bytes, a lone continuation byte, an encoded surrogate, a cut sequence): nothing
    // is written or counted, even after a character that was.
    for (const char* bytes : {"\x8a\xbf", "\xe3\x81\x82\x80", "\xed\xa0\x80", "\xf0\x9f\x98"}) {
        std::string out = "x";
        std::uint64_t replaced = 1;
        EXPECT_FALSE(e.appendUtf8(bytes, out, replaced, true));
        EXPECT_EQ(out, "x");
        EXPECT_EQ(replaced, 1u);
    }
}

TEST(Cp932Encoder, EveryTableEntryDecodesBackToItsCharacter) {
    const Cp932Encoder& e = Cp932Encoder::instance();
    QStringDecoder decoder("windows-31j", QStringDecoder::Flag::Stateless);
    int checked = 0;
    for (char32_t c = 0; c < 0x80; ++c) {
        EXPECT_EQ(e.codeOf(c), static_cast<int>(c)); // the control characters 0x1A, 0x1C, 0x7F too
    }
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        const int code = e.codeOf(c);
        if (code < 0) {
            continue;
        }
        QByteArray bytes;
        if (code < 0x100) {
            bytes.append(static_cast<char>(code));
        } else {
            bytes.append(static_cast<char>(code >> 8)).append(static_cast<char>(code & 0xFF));
        }
        const QString back = decoder.decode(bytes);
        ASSERT_EQ(back.size(), 1) << std::hex << static_cast<unsigned>(c);
        const char16_t expected = c == U'\u301C'   ? u'\uFF5E'
                                  : c == U'\u2016' ? u'\u2225'
                                  : c == U'\u2212' ? u'\uFF0D'
                                  : c == U'\u00A2' ? u'\uFFE0'
                                  : c == U'\u00A3' ? u'\uFFE1'
                                  : c == U'\u00AC' ? u'\uFFE2'
                                  : c == U'\u2014' ? u'\u2015'
                                                   : static_cast<char16_t>(c);
        EXPECT_EQ(back.front().unicode(), expected) << std::hex << static_cast<unsigned>(c);
        ++checked;
    }
    // JIS X 0208, the NEC and IBM extensions, half-width katakana, ASCII and the user area.
    EXPECT_GT(checked, 9000);
}

TEST(CsvWriter, UnmappableCharactersAreCountedAndUtf8KeepsThem) {
    EntryList list;
    list.setVolumeLabel(QStringLiteral("ラベル"));
    const std::uint32_t f = list.addFolder("/données");
    list.append(f, "caf\xc3\xa9 \xf0\x9f\x98\x80.txt", 1, kStamp, EntryType::File); // café 😀.txt
    list.append(f, "bad\xff.txt", 1, kStamp, EntryType::File);
    CsvResult result;
    const std::string cp = csvOf(list, CsvEncoding::Cp932, &result);
    EXPECT_NE(cp.find("\"caf? ?.txt\",\"/donn?es\""), std::string::npos);
    EXPECT_NE(cp.find("\"bad?.txt\""), std::string::npos);
    // é and 😀 in the name, é in the folder on each of two lines; not the invalid byte, which is
    // counted with the names.
    EXPECT_EQ(result.replacedCharacters, 4u);
    EXPECT_EQ(result.lines, 2u);

    const std::string utf8 = csvOf(list, CsvEncoding::Utf8, &result);
    EXPECT_EQ(utf8.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(utf8.find("\"caf\xc3\xa9 \xf0\x9f\x98\x80.txt\",\"/donn\xc3\xa9"
                        "es\",1,"),
              std::string::npos);
    EXPECT_NE(utf8.find("\"bad\xef\xbf\xbd.txt\""), std::string::npos);
    EXPECT_NE(utf8.find(",\"\xe3\x83\xa9\xe3\x83\x99\xe3\x83\xab\",\"F\""), std::string::npos);
    EXPECT_EQ(result.replacedCharacters, 0u);
}

/// A device that takes only so many bytes, like a disk that fills up.
class FullDisk final : public QIODevice {
public:
    explicit FullDisk(qint64 room) : room_(room) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 size) override {
        if (size > room_) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        room_ -= size;
        return size;
    }

private:
    qint64 room_;
};

TEST(CsvWriter, AFullDiskIsAFailureWithItsCause) {
    EntryList list;
    const std::uint32_t f = list.addFolder("/x");
    for (int i = 0; i < 40000; ++i) {
        list.append(f, "some-file-name.txt", i, kStamp, EntryType::File);
    }
    FullDisk disk(100000);
    try {
        writeCsv(list, CsvEncoding::Cp932, disk, QStringLiteral("/out/list.csv"));
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::OutputWrite);
        EXPECT_EQ(englishText(failure),
                  QStringLiteral("cannot write output file /out/list.csv: No space left on device"));
    }
}

TEST(CsvWriter, SavingIntoAMissingFolderFailsAndLeavesNothing) {
    QTemporaryDir dir;
    EntryList list;
    const QString path = dir.path() + QStringLiteral("/no/such/folder/list.csv");
    EXPECT_THROW(saveCsv(list, CsvEncoding::Cp932, path), Failure);
    EXPECT_FALSE(QFile::exists(path));

    // A successful save replaces an existing file whole.
    const QString existing = dir.path() + QStringLiteral("/list.csv");
    QFile old(existing);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
    old.close();
    saveCsv(list, CsvEncoding::Cp932, existing);
    QFile saved(existing);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().toStdString(), kHeader);
}

std::string contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("(missing)");
}

TEST(CsvFile, LinesWrittenAsTheListGrowsAreTheWholeListsAndAFailureWaitsForTheCommit) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/list.csv");
    for (const CsvEncoding encoding : {CsvEncoding::Cp932, CsvEncoding::Utf8}) {
        EntryList list;
        list.setVolumeLabel(QStringLiteral("写真"));
        CsvFile file(encoding, path);
        const std::uint32_t top = list.addFolder("/mnt/\xe5\x86\x99");
        file.append(list); // nothing recorded yet
        list.append(top, "a.txt", 1, kStamp, EntryType::File);
        list.append(top, "sub", 0, kStamp, EntryType::Folder);
        file.append(list);
        list.append(list.addFolder(top, "sub"), "\xe6\x97\xa5\"\x8a\xbf", 2, kStamp, EntryType::File);
        EXPECT_EQ(QFile::exists(path), encoding != CsvEncoding::Cp932); // in place only once committed
        EXPECT_EQ(file.commit(list).lines, 3u);
        EXPECT_EQ(contentsOf(path), csvOf(list, encoding));
    }

    // A disk that fills while the walk goes on: the failure comes with the commit, the old file stays.
    EntryList list;
    const std::uint32_t f = list.addFolder("/x");
    CsvFile file(CsvEncoding::Cp932, path);
    const std::string before = contentsOf(path);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    for (int i = 0; i < 60000; ++i) {
        list.append(f, "some-file-name.txt", i, kStamp, EntryType::File);
    }
    EXPECT_NO_THROW(file.append(list));
    try {
        file.commit(list);
        ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::OutputWrite);
        EXPECT_EQ(englishText(failure), QStringLiteral("cannot write output file ") + path +
                                            QStringLiteral(": File too large"));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(contentsOf(path), before);
}

} // namespace
} // namespace kartoma

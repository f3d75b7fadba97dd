#include "VolumeLabels.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kartoma {
namespace {

struct UdevCase {
    const char* record; ///< what the file b7:3 holds; nullptr: there is none
    const char* label;  ///< UTF-8
};

class UdevLabelTable : public ::testing::TestWithParam<UdevCase> {};

TEST_P(UdevLabelTable, ReadsTheEncodedLabelAsText) {
    const UdevCase& c = GetParam();
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    if (c.record != nullptr) {
        QFile record(data.path() + QStringLiteral("/b7:3"));
        ASSERT_TRUE(record.open(QIODevice::WriteOnly));
        record.write(c.record);
    }
    EXPECT_EQ(udevLabel(data.path(), 7, 3), QString::fromUtf8(c.label));
}

INSTANTIATE_TEST_SUITE_P(
    Records, UdevLabelTable,
    ::testing::Values(
        UdevCase{"S:disk/by-label/ARCHIVE_01\nE:ID_FS_LABEL=ARCHIVE_01\nE:ID_FS_LABEL_ENC=ARCHIVE_01\n",
                 "ARCHIVE_01"},
        // The plain ID_FS_LABEL has blanks and slashes replaced; the encoded one keeps them.
        UdevCase{"E:ID_FS_LABEL=My_Disk_a_b\nE:ID_FS_LABEL_ENC=My\\x20Disk\\x20a\\x2fb\\x5cc", "My Disk a/b\\c"},
        // Valid UTF-8 stands as it is.
        UdevCase{"E:ID_FS_LABEL_ENC=ﾃﾞｨｽｸ写真\n", "ﾃﾞｨｽｸ写真"},
        // Bytes that are not UTF-8 are escaped; a label in CP932 reads as Japanese.
        UdevCase{"E:ID_FS_LABEL_ENC=\\x8e\\xca\\x90^01\n", "写真01"},
        // An escape cut short is no escape.
        UdevCase{"E:ID_FS_LABEL_ENC=ab\\x4", "ab\\x4"},
        UdevCase{"E:ID_FS_TYPE=ext4\nE:ID_FS_LABEL_ENC_OTHER=x\n", ""}, UdevCase{nullptr, ""}));

} // namespace
} // namespace kartoma

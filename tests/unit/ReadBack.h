#pragma once

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

namespace kartoma::testing {

/// What openpyxl reads from a workbook (tests/tools/read_xlsx.py): cells, looks, heights, breaks,
/// footer and the rest.
inline QJsonObject readBack(const QString& path) {
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(KARTOMA_READ_XLSX), path});
    EXPECT_TRUE(reader.waitForFinished(120000));
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

} // namespace kartoma::testing

#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace kartoma {

/// The namespace of the r:id attributes that name a part through a relationship.
inline constexpr const char* kRelationshipsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

/// One relationship of a package part (an entry of a ".rels" part).
struct Relationship {
    QString id, type, target;
};

/// The relationships a ".rels" part lists; none when the part is empty or broken.
std::vector<Relationship> readRelationships(const QByteArray& xml);

/// The part a relationship target names, relative to `sourceFolder` (the folder of the part that
/// holds the relationship, with its trailing "/"; empty for the package root).
std::string resolveTarget(const std::string& sourceFolder, const QString& target);

/// The folder of a part name, with its trailing "/" ("xl/workbook.xml" -> "xl/").
std::string folderOf(const std::string& part);

/// The relationships part that belongs to `part` ("xl/workbook.xml" -> "xl/_rels/workbook.xml.rels").
std::string relsPartOf(const std::string& part);

/// libzip's text for one of its error codes.
QString zipErrorText(int code);

} // namespace kartoma

#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

struct zip;

namespace kartoma {

/// The namespace of the r:id attributes that name a part through a relationship.
inline constexpr const char* kRelationshipsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

/// One relationship of a package part (an entry of a ".rels" part).
struct Relationship {
    QString id, type, target;
};

/// The relationships a ".rels" part lists; none when the part is empty or broken, and then `error`
/// says why (unless the part is empty).
std::vector<Relationship> readRelationships(const QByteArray& xml, QString& error);

/// The part a relationship target names, relative to `sourceFolder` (the folder of the part that
/// holds the relationship, with its trailing "/"; empty for the package root).
std::string resolveTarget(const std::string& sourceFolder, const QString& target);

/// The folder of a part name, with its trailing "/" ("xl/workbook.xml" -> "xl/").
std::string folderOf(const std::string& part);

/// The relationships part that belongs to `part` ("xl/workbook.xml" -> "xl/_rels/workbook.xml.rels").
std::string relsPartOf(const std::string& part);

/// libzip's text for one of its error codes.
QString zipErrorText(int code);

/// A workbook package open for reading, closed with the object. Failures throw Failure with
/// the package's path as subject.
class Package {
public:
    /// Opens the package at `path`: TemplateMissing when there is no such file, TemplateInvalid when it is
    /// not a file or not a zip package. `checkConsistency` asks libzip to check the whole directory.
    Package(const QString& path, bool checkConsistency);
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    zip* handle() const { return zip_; }
    const QString& path() const { return path_; }
    bool contains(const std::string& part) const;
    /// A part read whole, at most `cap` bytes. Nothing when it is missing and not `required`;
    /// TemplateInvalid when it is missing and required, larger than `cap` or unreadable.
    QByteArray readPart(const std::string& part, bool required, std::uint64_t cap) const;

private:
    QString path_;
    zip* zip_ = nullptr;
};

/// Where a sheet and the parts beside it lie in a package.
struct SheetLocation {
    QString sheetName;         ///< as the workbook names it
    std::string workbookPart;  ///< the package's main part
    std::string sheetPart;
    std::string stylesPart;    ///< empty when the workbook has none
    std::string sharedStrings; ///< empty when the workbook has none
};

/// Finds the sheet named `name` (letter case ignored) through the package's relationships; with
/// `orFirst`, the first sheet when none has that name. SheetMissing (subject: the sheet's name, or
/// the package's path with `orFirst`) when there is none; TemplateInvalid when the parts are broken.
SheetLocation locateSheet(const Package& package, const QString& name, bool orFirst, std::uint64_t cap);

/// Checks that `part` is in the package and is well-formed XML in UTF-8: TemplateInvalid when not.
void checkXmlPart(const Package& package, const std::string& part, std::uint64_t cap);

} // namespace kartoma

#include "PackageParts.h"

#include "NativePath.h"
#include "SystemError.h"
#include "Failure.h"
#include "XmlScanner.h"

#include <QDir>
#include <QFile>
#include <QUtf8StringView>

#include <zip.h>

#include <cerrno>
#include <string_view>

#include <sys/stat.h>

namespace kartoma {

namespace {

/// Reads a part held whole, handing `element` the scanner on each element's start; the error, empty
/// when there is none.
template <typename OnElement> QString scanPart(const QByteArray& xml, const OnElement& element) {
    if (!QUtf8StringView(xml).isValidUtf8()) {
        return QStringLiteral("broken XML: it is not UTF-8");
    }
    XmlScanner reader(XmlScanner::Checking::WellFormed);
    reader.addData(std::string_view(xml.constData(), static_cast<std::size_t>(xml.size())));
    reader.finish();
    for (;;) {
        const XmlScanner::Token token = reader.next();
        if (token == XmlScanner::Token::StartElement || token == XmlScanner::Token::EmptyElement) {
            element(reader);
        } else if (token == XmlScanner::Token::Invalid) {
            return QString::fromStdString(reader.errorText());
        } else if (token == XmlScanner::Token::EndOfDocument) {
            return {};
        }
    }
}

/// The value of the attribute of the element just read that is written `name`, or that is `local`
/// in the namespace `ns`; empty when it has none.
QString attributeOf(const XmlScanner& reader, std::string_view name, std::string_view ns = {}) {
    for (const XmlScanner::Attribute& a : reader.attributes()) {
        const std::size_t colon = a.qualifiedName.find(':');
        const bool named = ns.empty() ? a.qualifiedName == name
                                      : colon != std::string_view::npos && a.qualifiedName.substr(colon + 1) == name &&
                                            reader.namespaceOf(a.qualifiedName.substr(0, colon)) == ns;
        if (named) {
            return QString::fromStdString(XmlScanner::attributeValue(a.rawValue));
        }
    }
    return {};
}

} // namespace

std::vector<Relationship> readRelationships(const QByteArray& xml, QString& error) {
    std::vector<Relationship> list;
    const QString broken = scanPart(xml, [&](const XmlScanner& reader) {
        if (reader.name() == "Relationship") {
            list.push_back(Relationship{attributeOf(reader, "Id"), attributeOf(reader, "Type"),
                                        attributeOf(reader, "Target")});
        }
    });
    if (!broken.isEmpty() && !xml.isEmpty()) {
        error = broken;
    }
    return list;
}

namespace {

/// The relationships of `part`; a part that is there but cannot be read is a broken package.
std::vector<Relationship> relationshipsOf(const Package& package, const std::string& part, bool required,
                                          std::uint64_t cap) {
    QString error;
    std::vector<Relationship> list = readRelationships(package.readPart(part, required, cap), error);
    if (!error.isEmpty()) {
        throw Failure(FailureCode::TemplateInvalid, package.path(),
                            QString::fromStdString(part) + QStringLiteral(": ") + error);
    }
    return list;
}

} // namespace

std::string resolveTarget(const std::string& sourceFolder, const QString& target) {
    if (target.startsWith(QLatin1Char('/'))) {
        return target.mid(1).toStdString();
    }
    return QDir::cleanPath(QString::fromStdString(sourceFolder) + target).toStdString();
}

std::string folderOf(const std::string& part) {
    const std::size_t slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string relsPartOf(const std::string& part) {
    return folderOf(part) + "_rels/" + part.substr(folderOf(part).size()) + ".rels";
}

QString zipErrorText(int code) {
    if (code == ZIP_ER_EXISTS) {
        // What the consistency check finds when two entries carry one name.
        return QStringLiteral("two parts have the same name");
    }
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&e));
    zip_error_fini(&e);
    return text;
}

Package::Package(const QString& path, bool checkConsistency) : path_(path) {
    const std::string native = toNativePath(path);
    struct stat st;
    if (path.isEmpty() || ::stat(native.c_str(), &st) != 0) {
        throw Failure(FailureCode::TemplateMissing, path);
    }
    if (!S_ISREG(st.st_mode)) {
        throw Failure(FailureCode::TemplateInvalid, path, S_ISDIR(st.st_mode) ? systemErrorText(EISDIR) : QStringLiteral("not a regular file"));
    }
    int error = 0;
    zip_ = zip_open(native.c_str(), ZIP_RDONLY | (checkConsistency ? ZIP_CHECKCONS : 0),
                    &error);
    if (zip_ == nullptr) {
        // A file that is there but cannot be opened is not "missing": its detail says why.
        throw Failure(error == ZIP_ER_NOENT ? FailureCode::TemplateMissing : FailureCode::TemplateInvalid,
                            path, zipErrorText(error));
    }
    // Parts are copied into filled workbooks: one named outside the package would be unpacked there.
    const zip_int64_t count = zip_get_num_entries(zip_, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        const std::string_view part = name != nullptr ? name : "";
        // Some unpackers take a backslash for a separator and "C:" for a drive: those lead outside too.
        const bool drive = part.size() >= 2 && part[1] == ':';
        if (part.starts_with('/') || part == ".." || part.starts_with("../") || part.find("/../") != part.npos ||
            part.ends_with("/..") || part.find('\\') != part.npos || drive) {
            const QString detail = QStringLiteral("a part named outside the package: %1").arg(QString::fromUtf8(name));
            zip_discard(zip_);
            throw Failure(FailureCode::TemplateInvalid, path, detail);
        }
    }
}

Package::~Package() {
    zip_discard(zip_);
}

bool Package::contains(const std::string& part) const {
    return zip_name_locate(zip_, part.c_str(), 0) >= 0;
}

QByteArray Package::readPart(const std::string& part, bool required, std::uint64_t cap) const {
    const QString name = QString::fromStdString(part);
    zip_stat_t st;
    if (zip_stat(zip_, part.c_str(), 0, &st) != 0) {
        if (required) {
            throw Failure(FailureCode::TemplateInvalid, path_, QStringLiteral("%1 missing").arg(name));
        }
        return {};
    }
    if (st.size > cap) {
        throw Failure(FailureCode::TemplateInvalid, path_,
                            QStringLiteral("%1 is larger than %2 MB").arg(name).arg(cap >> 20));
    }
    zip_file_t* file = zip_fopen(zip_, part.c_str(), 0);
    QByteArray data;
    if (file != nullptr) {
        data.resize(static_cast<qsizetype>(st.size));
        const zip_int64_t n = zip_fread(file, data.data(), st.size);
        zip_fclose(file);
        if (n == static_cast<zip_int64_t>(st.size)) {
            return data;
        }
    }
    throw Failure(FailureCode::TemplateInvalid, path_, QStringLiteral("%1 cannot be read").arg(name));
}

SheetLocation locateSheet(const Package& package, const QString& name, bool orFirst, std::uint64_t cap) {
    SheetLocation where;
    where.workbookPart = "xl/workbook.xml";
    for (const Relationship& r : relationshipsOf(package, "_rels/.rels", false, cap)) {
        if (r.type.endsWith(QLatin1String("/officeDocument"))) {
            where.workbookPart = resolveTarget("", r.target);
        }
    }
    QString sheetId, firstId, firstName;
    const QString broken = scanPart(package.readPart(where.workbookPart, true, cap), [&](const XmlScanner& reader) {
        if (reader.name() != "sheet") {
            return;
        }
        const QString id = attributeOf(reader, "id", kRelationshipsNs);
        const QString sheet = attributeOf(reader, "name");
        if (firstId.isEmpty()) {
            firstId = id;
            firstName = sheet;
        }
        if (sheetId.isEmpty() && sheet.compare(name, Qt::CaseInsensitive) == 0) {
            sheetId = id;
            where.sheetName = sheet;
        }
    });
    if (!broken.isEmpty()) {
        throw Failure(FailureCode::TemplateInvalid, package.path(),
                      QString::fromStdString(where.workbookPart) + QStringLiteral(": ") + broken);
    }
    if (sheetId.isEmpty() && orFirst) {
        sheetId = firstId;
        where.sheetName = firstName;
    }
    const QString missing = orFirst ? package.path() : name;
    if (sheetId.isEmpty()) {
        throw Failure(FailureCode::SheetMissing, missing);
    }
    const std::string folder = folderOf(where.workbookPart);
    for (const Relationship& r : relationshipsOf(package, relsPartOf(where.workbookPart), true, cap)) {
        if (r.id == sheetId) {
            where.sheetPart = resolveTarget(folder, r.target);
        } else if (r.type.endsWith(QLatin1String("/styles"))) {
            where.stylesPart = resolveTarget(folder, r.target);
        } else if (r.type.endsWith(QLatin1String("/sharedStrings"))) {
            where.sharedStrings = resolveTarget(folder, r.target);
        }
    }
    if (where.sheetPart.empty() || !package.contains(where.sheetPart)) {
        throw Failure(FailureCode::SheetMissing, missing);
    }
    return where;
}

void checkXmlPart(const Package& package, const std::string& part, std::uint64_t cap) {
    const QString broken = scanPart(package.readPart(part, true, cap), [](const XmlScanner&) {});
    if (!broken.isEmpty()) {
        throw Failure(FailureCode::TemplateInvalid, package.path(), QString::fromStdString(part) + QStringLiteral(": ") + broken);
    }
}

} // namespace kartoma

#include "PackageParts.h"

#include <QDir>
#include <QXmlStreamReader>

#include <zip.h>

namespace kartoma {

std::vector<Relationship> readRelationships(const QByteArray& xml) {
    std::vector<Relationship> list;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement &&
            reader.name() == QLatin1String("Relationship")) {
            const QXmlStreamAttributes a = reader.attributes();
            list.push_back(Relationship{a.value(QLatin1String("Id")).toString(),
                                        a.value(QLatin1String("Type")).toString(),
                                        a.value(QLatin1String("Target")).toString()});
        }
    }
    return list;
}

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
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&e));
    zip_error_fini(&e);
    return text;
}

} // namespace kartoma

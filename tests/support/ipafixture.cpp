#include "ipafixture.h"

#include <QFile>

#include <plist/plist.h>
#include <zip.h>

#include <cstdlib>

namespace telmora::test {

QByteArray makeInfoPlist(const QVariantMap& entries, PlistFormat format)
{
    plist_t root = plist_new_dict();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QVariant& value = it.value();
        const bool list = value.typeId() == QMetaType::QStringList;
        plist_t item = list ? plist_new_array()
            : value.typeId() == QMetaType::Int ? plist_new_uint(uint64_t(value.toInt()))
                                               : plist_new_string(value.toString().toUtf8().constData());
        for (const QString& element : list ? value.toStringList() : QStringList())
            plist_array_append_item(item, plist_new_string(element.toUtf8().constData()));
        plist_dict_set_item(root, it.key().toUtf8().constData(), item);
    }
    char* data = nullptr;
    uint32_t length = 0;
    (format == PlistFormat::xml ? plist_to_xml : plist_to_bin)(root, &data, &length);
    QByteArray bytes(data, qsizetype(length));
    free(data);
    plist_free(root);
    return bytes;
}

bool writeZip(const QString& path, const QList<QPair<QString, QByteArray>>& members, bool store)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (const auto& [name, bytes] : members) { // libzip reads `members` when the archive is closed
        zip_source_t* source = zip_source_buffer(archive, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index = zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        if (store)
            zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    return zip_close(archive) == 0;
}

bool writeIPA(const QString& path, const QString& app, const QVariantMap& entries, PlistFormat format)
{
    return writeZip(path, {{QStringLiteral("Payload/%1.app/Info.plist").arg(app), makeInfoPlist(entries, format)},
                           {QStringLiteral("Payload/%1.app/%1").arg(app), QByteArray("binary")}});
}

} // namespace telmora::test

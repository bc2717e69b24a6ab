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
        const QByteArray key = it.key().toUtf8();
        if (it.value().typeId() == QMetaType::QStringList) {
            plist_t array = plist_new_array();
            for (const QString& element : it.value().toStringList())
                plist_array_append_item(array, plist_new_string(element.toUtf8().constData()));
            plist_dict_set_item(root, key.constData(), array);
        } else if (it.value().typeId() == QMetaType::Int) {
            plist_dict_set_item(root, key.constData(), plist_new_uint(static_cast<uint64_t>(it.value().toInt())));
        } else {
            plist_dict_set_item(root, key.constData(), plist_new_string(it.value().toString().toUtf8().constData()));
        }
    }
    char* data = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::xml)
        plist_to_xml(root, &data, &length);
    else
        plist_to_bin(root, &data, &length);
    QByteArray bytes(data, static_cast<qsizetype>(length));
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
    for (const auto& [name, bytes] : members) {
        // libzip reads the buffers when the archive is closed: keep copies alive until then.
        void* copy = malloc(static_cast<size_t>(qMax<qsizetype>(bytes.size(), 1)));
        memcpy(copy, bytes.constData(), static_cast<size_t>(bytes.size()));
        zip_source_t* source = zip_source_buffer(archive, copy, static_cast<zip_uint64_t>(bytes.size()), 1);
        const zip_int64_t index = zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        if (store)
            zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    return zip_close(archive) == 0;
}

bool writeIPA(const QString& path, const QString& app, const QVariantMap& entries, PlistFormat format)
{
    return writeZip(path, {{QStringLiteral("Payload/%1.app/Info.plist").arg(app), makeInfoPlist(entries, format)},
                           {QStringLiteral("Payload/%1.app/%1").arg(app), QByteArray("binary")}});
}

} // namespace telmora::test

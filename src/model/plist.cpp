#include "model/plist.h"

#include <QStringList>

#include <plist/plist.h>

#include <cstdlib>
#include <memory>

namespace telmora {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};

QString stringOf(plist_t node)
{
    char* text = nullptr;
    plist_get_string_val(node, &text);
    QString value = QString::fromUtf8(text ? text : "");
    free(text);
    return value;
}

std::optional<QVariant> valueOf(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING:
        return stringOf(node);
    case PLIST_UINT: {
        uint64_t number = 0;
        plist_get_uint_val(node, &number);
        return static_cast<qint64>(number);
    }
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return flag != 0;
    }
    case PLIST_ARRAY: {
        QStringList strings;
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
            plist_t element = plist_array_get_item(node, i);
            if (plist_get_node_type(element) != PLIST_STRING)
                return std::nullopt;
            strings.append(stringOf(element));
        }
        return strings;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<QVariantMap> readPlistDictionary(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &parsed);
    const std::unique_ptr<void, PlistFree> root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;

    QVariantMap entries;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root.get(), &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), iterator, &key, &value);
        if (!key)
            break;
        if (const std::optional<QVariant> converted = valueOf(value))
            entries.insert(QString::fromUtf8(key), *converted);
        free(key);
    }
    free(iterator);
    return entries;
}

} // namespace telmora

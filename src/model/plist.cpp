#include "model/plist.h"

#include <QStringList>
#include <QtEndian>

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace telmora {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};

QString stringOf(plist_t node)
{
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? QString::fromUtf8(text, static_cast<qsizetype>(length)) : QString();
}

// libplist 2.2 stops the process (a failed assertion) when it hands out a key or string of
// a binary property list that holds U+0000: it keeps the UTF-8 length of the text beside a
// C string that ends early. Only UTF-16 strings can hold that character (ASCII ones are cut
// at it), so every UTF-16 string object is looked at before libplist reads the list. Reads
// at least what libplist would: out-of-range entries are skipped, long strings cut at the end.
bool holdsNulCharacter(const QByteArray& bytes)
{
    constexpr qsizetype trailerSize = 32;
    if (!bytes.startsWith("bplist00") || bytes.size() < 8 + trailerSize)
        return false;
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const auto size = static_cast<quint64>(bytes.size());
    const auto number = [data](quint64 at, quint64 width) {
        quint64 value = 0;
        for (quint64 i = 0; i < width; ++i)
            value = value << 8 | data[at + i];
        return value;
    };
    const uchar* trailer = data + size - trailerSize;
    const quint64 offsetSize = trailer[6];
    const quint64 objectCount = qFromBigEndian<quint64>(trailer + 8);
    const quint64 tableOffset = qFromBigEndian<quint64>(trailer + 24);
    const quint64 end = size - trailerSize;
    if (offsetSize < 1 || offsetSize > 8 || tableOffset >= end || objectCount > (end - tableOffset) / offsetSize)
        return false; // libplist refuses such a list itself
    for (quint64 object = 0; object < objectCount; ++object) {
        const quint64 offset = number(tableOffset + object * offsetSize, offsetSize);
        if (offset >= end || (data[offset] & 0xF0) != 0x60)
            continue;
        quint64 at = offset + 1;
        quint64 length = data[offset] & 0x0F;
        if (length == 0x0F) { // the length follows as an integer object
            if (at >= end || (data[at] & 0xF0) != 0x10)
                continue;
            const quint64 width = quint64(1) << (data[at] & 0x0F);
            if (width > 16 || at + 1 + width > end)
                continue;
            length = number(at + 1 + (width > 8 ? width - 8 : 0), std::min<quint64>(width, 8));
            at += 1 + width;
        }
        length = std::min(length, (end - at) / 2);
        for (quint64 unit = 0; unit < length; ++unit) {
            if (data[at + 2 * unit] == 0 && data[at + 2 * unit + 1] == 0)
                return true;
        }
    }
    return false;
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
    if (bytes.isEmpty() || holdsNulCharacter(bytes))
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

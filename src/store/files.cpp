#include "store/store.h"

#include "model/ipa.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace telmora {

namespace {

constexpr QDir::Filters everyEntry = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

} // namespace

qint64 folderSize(const QString& folder)
{
    qint64 total = 0;
    // Folders report no file size of their own: they count 0.
    for (const QFileInfo& entry : QDir(folder).entryInfoList(everyEntry, QDir::NoSort)) {
        if (!entry.isDir())
            total += std::max<qint64>(entry.size(), 0);
    }
    return total;
}

// The list is rebuilt from the folder every time; only new or changed packages are opened.
QCoro::Task<> Store::refreshFiles()
{
    QPointer<Store> self(this);

    struct Entry {
        QString url;
        qint64 size = 0;
        QDateTime modified;
        std::optional<IPAInfo> info;
        bool known = false;
    };
    QHash<QString, const IPAFile*> listedByURL;
    listedByURL.reserve(m_files.size());
    for (const IPAFile& listed : std::as_const(m_files))
        listedByURL.insert(listed.url, &listed);

    std::vector<Entry> entries;
    for (const QFileInfo& found : QDir(m_downloadsFolder).entryInfoList(everyEntry, QDir::NoSort)) {
        if (found.isDir() || found.suffix().toLower() != u"ipa")
            continue;
        Entry entry;
        entry.url = found.absoluteFilePath();
        entry.size = std::max<qint64>(found.size(), 0);
        const QDateTime modified = found.lastModified();
        entry.modified = modified.isValid() ? modified : earliestTime();
        if (const IPAFile* listed = listedByURL.value(entry.url); listed && listed->modified == entry.modified) {
            entry.info = listed->info;
            entry.known = true;
        }
        entries.push_back(std::move(entry));
    }

    // Reads start together (each on a worker) and are collected in listing order.
    std::vector<std::pair<std::size_t, QCoro::Task<std::optional<IPAInfo>>>> reads;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        if (!entries[index].known)
            reads.emplace_back(index, readIPAInfo(entries[index].url));
    }
    for (auto& [index, read] : reads) {
        std::optional<IPAInfo> info = co_await std::move(read);
        entries[index].info = std::move(info);
    }
    if (!self)
        co_return;

    QList<IPAFile> files;
    files.reserve(static_cast<qsizetype>(entries.size()));
    for (Entry& entry : entries) {
        IPAFile file;
        file.url = entry.url;
        file.info = entry.info;
        file.size = entry.size;
        file.modified = entry.modified;
        const auto app = m_fileApps.constFind(QFileInfo(entry.url).fileName());
        if (app != m_fileApps.cend())
            file.appID = *app;
        files.append(file);
    }
    std::stable_sort(files.begin(), files.end(), [](const IPAFile& a, const IPAFile& b) { return a.modified > b.modified; });
    setFiles(files);
}

std::optional<IPAFile> Store::file(const QString& appID) const
{
    for (const IPAFile& stored : m_files) {
        if (stored.appID == appID)
            return stored;
    }
    return std::nullopt;
}

void Store::saveFileApps()
{
    QDir().mkpath(m_dataFolder);
    QJsonObject object;
    for (auto it = m_fileApps.cbegin(); it != m_fileApps.cend(); ++it)
        object.insert(it.key(), it.value());
    // Written whole to a temporary file that then replaces the old one.
    QSaveFile saved(QDir(m_dataFolder).filePath(QStringLiteral("files.json")));
    if (!saved.open(QIODevice::WriteOnly))
        return;
    saved.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
    saved.commit();
}

QCoro::Task<> Store::moveToTrash(const IPAFile& file)
{
    if (const std::optional<QString> error = platform::moveToTrash(file.url)) {
        setNotice(error);
    } else {
        m_fileApps.remove(QFileInfo(file.url).fileName());
        saveFileApps();
    }
    co_await refreshFiles();
}

} // namespace telmora

#include "ui/labels.h"

#include "model/text.h"

#include <QFileInfo>
#include <QStringList>

namespace telmora::labels {

namespace {

const QString separator = QStringLiteral(" · ");

} // namespace

QString rowSubtitle(const AppItem& app, const std::optional<AppDetails>& details)
{
    QStringList parts;
    if (details && details->seller)
        parts.append(*details->seller);
    if (details && details->version)
        parts.append(u'v' + *details->version);
    else if (app.version)
        parts.append(u'v' + *app.version);
    if (details && details->minOS)
        parts.append(QStringLiteral("iOS ") + *details->minOS + u'+');
    if (details && details->price)
        parts.append(*details->price);
    if (app.purchaseDate)
        parts.append(*app.purchaseDate);
    if (parts.isEmpty())
        return QStringLiteral("ID ") + app.id;
    return parts.join(separator);
}

QString actionTitle(const AppSituation& situation, bool compact)
{
    return compact && situation.shortTitle ? *situation.shortTitle : situation.title;
}

QString jobTitle(const Job& job)
{
    if (job.versionLabel)
        return job.app.name + QStringLiteral(", версия ") + *job.versionLabel;
    return job.app.name;
}

QString runningText(const Job& job)
{
    QStringList parts;
    if (job.fraction)
        parts.append(QString::number(wholePercent(*job.fraction)) + u'%');
    if (job.detail)
        parts.append(*job.detail);
    else if (!job.fraction)
        parts.append(QStringLiteral("Подготовка…"));
    return parts.join(separator);
}

QString fileTitle(const IPAFile& file)
{
    return file.info ? file.info->name : file.fileName();
}

QString fileSubtitle(const IPAFile& file)
{
    QStringList parts;
    if (file.info) {
        parts.append(u'v' + file.info->version);
        if (file.info->minOS != u"NA")
            parts.append(file.info->platform + u' ' + file.info->minOS + u'+');
    } else {
        parts.append(QStringLiteral("Не удалось прочитать файл"));
    }
    parts.append(formattedSize(file.size));
    return parts.join(separator);
}

QString bulkText(int count, bool deviceReady)
{
    return (deviceReady ? QStringLiteral("Установить") : QStringLiteral("Скачать")) + QStringLiteral(" выбранные: ")
        + QString::number(count);
}

QString placeholderLetter(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return {};
    // A letter outside the basic plane is two UTF-16 units: keep them together.
    const qsizetype length = trimmed.at(0).isHighSurrogate() && trimmed.size() > 1 ? 2 : 1;
    return trimmed.left(length).toUpper();
}

QString appStoreLink(const QString& id)
{
    return QStringLiteral("https://apps.apple.com/app/id") + id;
}

QString filterKey(const QString& text, const QLocale& locale)
{
    return locale.toLower(text);
}

bool matchesFilter(const QString& foldedName, const QString& filter, const QLocale& locale)
{
    const QString trimmed = filter.trimmed();
    return trimmed.isEmpty() || foldedName.contains(filterKey(trimmed, locale));
}

} // namespace telmora::labels

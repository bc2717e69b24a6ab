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

QString deviceTitle(const std::optional<Device>& ready)
{
    return ready ? ready->name : QStringLiteral("iPhone не подключён");
}

QString deviceSubtitle(const std::optional<Device>& ready, qsizetype connected)
{
    if (ready)
        return QStringLiteral("iOS ") + ready->iosVersion;
    return connected > 0 ? QStringLiteral("Нажмите «Доверять» на iPhone") : QStringLiteral("Что нужно сделать");
}

QString deviceEntry(const Device& device)
{
    return device.name + QStringLiteral(", iOS ") + device.iosVersion;
}

QString updateTitle(const UpdatePhase& phase, const UpdateOffer& offer)
{
    switch (phase.kind) {
    case UpdatePhase::Downloading:
        return QStringLiteral("Скачиваю: ") + QString::number(wholePercent(phase.fraction)) + u'%';
    case UpdatePhase::Installing:
        return QStringLiteral("Устанавливаю…");
    default:
        return QStringLiteral("Доступна версия ") + offer.version;
    }
}

QString accountLetter(const std::optional<QString>& email)
{
    return email ? placeholderLetter(*email) : QString();
}

QString accountTitle(const std::optional<QString>& email)
{
    return email ? *email : QStringLiteral("Выбрать аккаунт");
}

QString accountSubtitle(qsizetype saved)
{
    return saved > 0 ? QStringLiteral("и ещё ") + QString::number(saved) : QStringLiteral("Аккаунт Apple");
}

QString logoutEntry(const QString& email)
{
    return QStringLiteral("Выйти из ") + email + u'…';
}

QString logoutTitle(const QString& email)
{
    return QStringLiteral("Выйти из аккаунта ") + email + u'?';
}

QString logoutMessage(qsizetype saved)
{
    return saved > 0 ? QStringLiteral("Откроется следующий сохранённый аккаунт.") : QString();
}

QString versionsHeader(const std::optional<Device>& ready)
{
    if (ready)
        return QStringLiteral("Подбираю версии для ") + ready->name + QStringLiteral(" с iOS ") + ready->iosVersion;
    return QStringLiteral("Выберите версию для скачивания");
}

QString versionSubtitle(const VersionRow& row)
{
    QStringList parts;
    if (row.meta && row.meta->minOS)
        parts.append(QStringLiteral("iOS ") + *row.meta->minOS + u'+');
    parts.append(QStringLiteral("ID версии ") + row.id);
    return parts.join(separator);
}

qsizetype suitableVersion(const QList<VersionRow>& rows, const std::optional<Device>& ready)
{
    if (!ready)
        return -1;
    for (qsizetype index = 0; index < rows.size(); ++index) {
        const std::optional<VersionMeta>& meta = rows.at(index).meta;
        if (meta && meta->minOS && compareVersions(*meta->minOS, ready->iosVersion) <= 0)
            return index;
    }
    return -1;
}

QString deviceHelpSentence(const std::optional<AwaitingDevice>& awaiting)
{
    if (awaiting)
        return QStringLiteral("Установка «") + awaiting->title + QStringLiteral("» начнётся сама, как только iPhone будет готов.");
    return QStringLiteral("Когда iPhone будет готов, кнопки «Установить» заработают сами.");
}

QString updateHeading(const UpdateOffer& offer)
{
    return QStringLiteral("Версия ") + offer.version;
}

QString updateNotes(const UpdateOffer& offer)
{
    return offer.notes.isEmpty() ? QStringLiteral("Без описания.") : offer.notes;
}

} // namespace telmora::labels

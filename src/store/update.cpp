// The self-update workflows of the Store: checking the feed, installing an offer and
// reporting an update that could not replace the application.

#include "store/store.h"

#include "update/feed.h"
#include "update/install.h"

#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <exception>

namespace telmora {

namespace {

const QString failureMarkerName = QStringLiteral("update-failed");

} // namespace

bool Store::updateIsConfigured() const
{
    return telmora::updateIsConfigured(m_options.info);
}

QString Store::currentVersion() const
{
    return telmora::currentVersion(m_options.info);
}

qint64 Store::currentBuild() const
{
    return telmora::currentBuild(m_options.info);
}

std::optional<QUrl> Store::updateFeed() const
{
    return updateFeedURL(m_options.info);
}

void Store::reportFailedUpdate()
{
    const QString marker = QDir(m_dataFolder).filePath(failureMarkerName);
    if (!QFileInfo::exists(marker) && !QFileInfo(marker).isSymLink())
        return;
    QFile::remove(marker);
    setNotice(QStringLiteral("Обновление не установилось: система не дала заменить приложение. Скачайте новую версию на ")
              + QString::fromLatin1(productHost) + u'.');
}

QCoro::Task<> Store::checkForUpdates(bool manual)
{
    if (m_updatePhase.isBusy())
        co_return;
    const std::optional<QUrl> feed = updateFeed();
    const std::optional<QByteArray> key = updatePublicKey(m_options.info);
    if (!feed || !key)
        co_return;

    QPointer<Store> self(this);
    std::optional<UpdateOffer> offer;
    std::optional<QString> failure;
    try {
        // Arguments are built outside the co_await expression: GCC 12 mishandles temporaries there.
        auto fetching = fetchUpdateOffer(m_network, *feed, currentBuild(), *key);
        offer = co_await fetching;
    } catch (const std::exception& error) {
        failure = describeUpdateFailure(error);
    }
    if (!self)
        co_return;
    if (failure) {
        if (manual)
            setNotice(QStringLiteral("Не удалось проверить обновления: ") + *failure);
        co_return;
    }
    // An install may have started meanwhile from an earlier offer; it owns the phase now.
    if (m_updatePhase.isBusy())
        co_return;
    setUpdateOffer(offer);
    setUpdatePhase(offer ? UpdatePhase::available() : UpdatePhase::idle());
    if (manual) {
        if (offer)
            setShowUpdate(true);
        else
            setNotice(QStringLiteral("Установлена последняя версия: ") + currentVersion());
    }
}

QCoro::Task<> Store::installUpdate()
{
    if (!m_updateOffer || m_updatePhase.kind != UpdatePhase::Available)
        co_return;
    if (activeJobCount() != 0 || m_installing) {
        setUpdateError(QStringLiteral("Дождитесь окончания загрузок и установки."));
        co_return;
    }
    setUpdateError(std::nullopt);
    setUpdatePhase(UpdatePhase::downloading(0));

    QPointer<Store> self(this);
    const UpdateOffer offer = *m_updateOffer;
    const QString work = newUpdateWorkFolder();
    const QVariant identifier = m_options.info.value(QStringLiteral("CFBundleIdentifier"));
    const QString bundleID = identifier.typeId() == QMetaType::QString ? identifier.toString() : QString();
    const QByteArray key = updatePublicKey(m_options.info).value_or(QByteArray());
    const std::function<void(double)> onProgress = [self](double fraction) {
        if (self && self->m_updatePhase.kind == UpdatePhase::Downloading)
            self->setUpdatePhase(UpdatePhase::downloading(fraction));
    };

    std::optional<QString> failure;
    QString app;
    try {
        auto preparing = prepareUpdate(offer, bundleID, work, key, onProgress, m_network);
        app = co_await preparing;
    } catch (const std::exception& error) {
        failure = describeUpdateFailure(error);
    }
    if (!self) {
        QDir(work).removeRecursively();
        co_return;
    }
    if (!failure) {
        setUpdatePhase(UpdatePhase::installing());
        try {
            QDir().mkpath(m_dataFolder);
            launchSwapHelper(app, m_options.packageFolder, work, QDir(m_dataFolder).filePath(failureMarkerName));
        } catch (const std::exception& error) {
            failure = describeUpdateFailure(error);
        }
    }
    if (failure) {
        QDir(work).removeRecursively();
        setUpdatePhase(UpdatePhase::available());
        setUpdateError(failure);
        co_return;
    }

    // The script waits for this process to end before it touches the package.
    setShowUpdate(false);
    co_await QCoro::sleepFor(std::chrono::milliseconds(300));
    quitForUpdate();
}

} // namespace telmora

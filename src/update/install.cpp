#include "update/install.h"

#include "model/plist.h"

#include "update/archive.h"
#include "update/crypto.h"
#include "update/signature.h"

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>


#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>

namespace telmora {

namespace {

struct LaterDelete {
    // The reply may still be inside its own signal emission when the coroutine resumes.
    void operator()(QObject* object) const { object->deleteLater(); }
};


// What a worker produced: its result, or the exception it threw (QtConcurrent itself only
// carries QException types across threads).
template<typename Result>
struct Outcome {
    std::optional<Result> value;
    std::exception_ptr error;
};

// Runs blocking work on the shared worker pool. Call it outside the co_await expression and
// await the returned future: GCC 12 mishandles lambda temporaries passed into a coroutine.
template<typename Work>
QFuture<Outcome<std::invoke_result_t<Work>>> onWorker(Work work)
{
    return QtConcurrent::run([work = std::move(work)]() mutable {
        Outcome<std::invoke_result_t<Work>> outcome;
        try {
            outcome.value.emplace(work());
        } catch (...) {
            outcome.error = std::current_exception();
        }
        // Hashing and signature checks leave OpenSSL state on this pool thread; it must not
        // depend on the thread's exit to be freed.
        releaseThreadCryptoState();
        return outcome;
    });
}

// The worker's result on the awaiting side, or its exception rethrown there.
template<typename Result>
Result unwrap(Outcome<Result> outcome)
{
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    return std::move(*outcome.value);
}

// The first direct entry of `folder` whose extension is exactly "app", by name.
std::optional<QString> firstApplication(const QString& folder)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.suffix() == u"app" && entry.fileName().size() > 4)
            return entry.absoluteFilePath();
    }
    return std::nullopt;
}

std::function<void()>& quitOverride()
{
    static std::function<void()> quit;
    return quit;
}

} // namespace

void quitForUpdate()
{
    if (quitOverride()) {
        quitOverride()();
        return;
    }
    // Fires only if the normal quit did not end the process.
    QTimer::singleShot(2000, [] { std::_Exit(0); });
    QCoreApplication::quit();
}

void setQuitForUpdate(std::function<void()> quit)
{
    quitOverride() = std::move(quit);
}

QString newUpdateWorkFolder()
{
    return QDir::temp().filePath(QStringLiteral("telmora-update-") + QUuid::createUuid().toString(QUuid::WithoutBraces));
}

std::optional<QString> bundleIdentifier(const QString& package)
{
    QFile file(QDir(package).filePath(QStringLiteral("Resources/Info.plist")));
    if (!file.open(QIODevice::ReadOnly) || file.size() > 16 * 1024 * 1024)
        return std::nullopt;
    const std::optional<QVariantMap> info = readPlistDictionary(file.readAll());
    const QVariant identifier = info ? info->value(QStringLiteral("CFBundleIdentifier")) : QVariant();
    if (identifier.typeId() != QMetaType::QString)
        return std::nullopt;
    return identifier.toString();
}

QCoro::Task<QString> prepareUpdate(UpdateOffer offer, QString bundleID, QString workFolder, QByteArray publicKey,
                                   std::function<void(double)> onProgress, QNetworkAccessManager& network)
{
    // Removed when this function returns, whatever happens.
    QTemporaryFile download(QDir::temp().filePath(QStringLiteral("telmora-update-XXXXXX.zip")));
    if (!download.open())
        throw UpdateSystemError(download.errorString());

    qint64 received = 0;
    bool tooLarge = false;
    QString writeError;
    {
        QNetworkRequest request(offer.url);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        const std::unique_ptr<QNetworkReply, LaterDelete> reply(network.get(request));
        QNetworkReply* raw = reply.get();
        QObject::connect(raw, &QNetworkReply::readyRead, raw, [&, raw] {
            if (tooLarge || !writeError.isEmpty())
                return;
            const QByteArray chunk = raw->readAll();
            received += chunk.size();
            // More than promised cannot be the signed archive: stop before it fills the disk.
            if (received > offer.size) {
                tooLarge = true;
                QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
            } else if (download.write(chunk) != chunk.size()) {
                writeError = download.errorString();
                QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
            }
        });
        QObject::connect(raw, &QNetworkReply::downloadProgress, raw, [&offer, &onProgress](qint64 done, qint64 total) {
            if (!onProgress)
                return;
            const qint64 whole = total > 0 ? total : offer.size;
            if (whole > 0)
                onProgress(qBound(0.0, static_cast<double>(done) / static_cast<double>(whole), 1.0));
        });
        co_await raw;

        const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && status.toInt() != 200)
            throw UpdateError::server(status.toInt());
        if (!writeError.isEmpty())
            throw UpdateSystemError(writeError);
        if (tooLarge)
            throw UpdateError::damaged();
        if (raw->error() != QNetworkReply::NoError)
            throw UpdateSystemError(raw->errorString());
    }
    if (!download.flush())
        throw UpdateSystemError(download.errorString());

    const QString archive = download.fileName();
    const QFileInfo downloaded(archive);
    if (!downloaded.exists())
        throw UpdateSystemError(QStringLiteral("Скачанный файл обновления пропал."));
    // The size is checked first: a short file is damaged without hashing it.
    if (downloaded.size() != offer.size)
        throw UpdateError::damaged();
    auto hashing = onWorker([archive] { return sha256OfFile(archive); });
    const QString digest = unwrap(co_await hashing);
    if (digest != offer.sha256)
        throw UpdateError::damaged();

    std::error_code created;
    std::filesystem::create_directories(QFile::encodeName(workFolder).toStdString(), created);
    if (created)
        throw UpdateSystemError(QString::fromLocal8Bit(created.message()));
    auto unpacking = onWorker([archive, workFolder] {
        unpackArchive(archive, workFolder);
        return true;
    });
    unwrap(co_await unpacking);

    const std::optional<QString> app = firstApplication(workFolder);
    if (!app)
        throw UpdateError::invalidApp();
    const std::optional<QString> identifier = bundleIdentifier(*app);
    if (!identifier || *identifier != bundleID)
        throw UpdateError::invalidApp();
    const QString appPath = *app;
    auto checking = onWorker([appPath, publicKey] { return verifyPackageSignature(appPath, publicKey); });
    const bool signedCorrectly = unwrap(co_await checking);
    if (!signedCorrectly)
        throw UpdateError::invalidApp();
    co_return appPath;
}

QString swapScript()
{
    // The script of the macOS build, line for line, with two Linux substitutions:
    // line 6 cleared extended attributes with `xattr -cr` (nothing marks a download on
    // Linux, so it is a no-op here), and line 16 started the package with `open`; here the
    // package's executable replaces the shell, which already runs detached.
    static const QStringList lines{
        QStringLiteral("pid=\"$1\"; new=\"$2\"; target=\"$3\"; work=\"$4\"; marker=\"$5\""),
        QStringLiteral("while kill -0 \"$pid\" 2>/dev/null; do sleep 0.2; done"),
        QStringLiteral("backup=\"$target.old-$\""),
        QStringLiteral("if mv \"$target\" \"$backup\"; then"),
        QStringLiteral("  if mv \"$new\" \"$target\"; then"),
        QStringLiteral("    :"),
        QStringLiteral("    rm -rf \"$backup\""),
        QStringLiteral("  else"),
        QStringLiteral("    mv \"$backup\" \"$target\""),
        QStringLiteral("    : > \"$marker\""),
        QStringLiteral("  fi"),
        QStringLiteral("else"),
        QStringLiteral("  : > \"$marker\""),
        QStringLiteral("fi"),
        QStringLiteral("rm -rf \"$work\""),
        QStringLiteral("exec \"$target/telmora\""),
    };
    return lines.join(u'\n');
}

void launchSwapHelper(const QString& newApp, const QString& target, const QString& workFolder,
                      const QString& failureMarker, qint64 waitForPid)
{
    const QString parent = QFileInfo(target).absolutePath();
    // access() also answers for root: a read-only or immutable folder is refused.
    if (::access(QFile::encodeName(parent).constData(), W_OK) != 0)
        throw UpdateError::notWritable();

    QProcess shell;
    shell.setProgram(QStringLiteral("/bin/sh"));
    shell.setArguments({QStringLiteral("-c"), swapScript(), QStringLiteral("telmora-update"),
                        QString::number(waitForPid), newApp, target, workFolder, failureMarker});
    shell.setStandardInputFile(QProcess::nullDevice());
    shell.setStandardOutputFile(QProcess::nullDevice());
    shell.setStandardErrorFile(QProcess::nullDevice());
    // Not inside the package that is about to move.
    shell.setWorkingDirectory(QStringLiteral("/"));
    if (!shell.startDetached())
        throw UpdateSystemError(shell.errorString());
}

} // namespace telmora

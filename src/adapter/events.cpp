#include "adapter/events.h"

#include "tools/upstream.h"

#include <QJsonDocument>

namespace telmora::adapter {

namespace {

// A Go panic: "panic: <value>" followed by the goroutine dump, exit status 2. Upstream
// panics when its keyring or cookie jar cannot be opened.
std::optional<QString> panicLine(const QString& errors)
{
    const qsizetype start = errors.indexOf(QStringLiteral("panic: "));
    if (start < 0)
        return std::nullopt;
    const qsizetype end = errors.indexOf(u'\n', start);
    return errors.mid(start + 7, end < 0 ? -1 : end - start - 7).trimmed().left(300);
}

QString lastLine(const QString& text)
{
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (!it->trimmed().isEmpty())
            return it->trimmed().left(300);
    }
    return {};
}

QString storageMessage(const std::optional<QString>& detail)
{
    QString message = QStringLiteral("ipatool не смог открыть своё хранилище входа в папке ~/.ipatool. "
                                     "Проверьте, что эта папка и файлы в ней принадлежат вам и доступны для записи.");
    if (detail && !detail->isEmpty())
        message += QStringLiteral(" Ответ ipatool: ") + *detail;
    return message;
}

} // namespace

const Event* Outcome::result(const QString& key) const
{
    for (auto it = events.crbegin(); it != events.crend(); ++it) {
        if (it->level == u"info" && it->fields.contains(key))
            return &*it;
    }
    return nullptr;
}

const Event* Outcome::firstError() const
{
    for (const Event& event : events) {
        if (event.level == u"error")
            return &event;
    }
    return nullptr;
}

QList<Event> parseEvents(const QByteArray& output)
{
    QList<Event> events;
    for (const QByteArray& line : output.split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line.trimmed());
        if (!document.isObject())
            continue;
        QJsonObject fields = document.object();
        Event event;
        event.level = fields.take(QStringLiteral("level")).toString();
        event.message = fields.take(QStringLiteral("message")).toString();
        fields.remove(QStringLiteral("time"));
        event.fields = fields;
        events.append(event);
    }
    return events;
}

std::optional<QString> failureOf(const Outcome& outcome, const QString& program)
{
    if (!outcome.started)
        return upstream::brokenMessage(program);
    const std::optional<QString> panic = panicLine(outcome.errors);
    if (outcome.status == 2 || panic)
        return storageMessage(panic ? panic : std::optional<QString>(lastLine(outcome.errors)));
    if (outcome.crashed)
        return QStringLiteral("ipatool завершился аварийно. Попробуйте ещё раз; если повторится, установите ipatool %1 заново.")
            .arg(upstream::recommended.text());
    if (const Event* error = outcome.firstError(); error && !error->error().isEmpty())
        return error->error();
    if (outcome.status != 0) {
        const QString line = lastLine(outcome.errors);
        return line.isEmpty() ? QStringLiteral("ipatool завершился с ошибкой (код %1).").arg(outcome.status) : line;
    }
    return std::nullopt;
}

QString contractError(const QString& upstreamError)
{
    // A session file that is missing, or locked with another passphrase (made by the
    // user's own ipatool runs), cannot be used: Telmora then asks for a sign-in.
    if (upstreamError.contains(QStringLiteral("could not be found in the keyring"))
        || upstreamError.contains(QStringLiteral("integrity check failed")))
        return QStringLiteral("Not logged in");
    // Upstream signs in again by itself with the stored password; when that needs a new
    // code it gives up, and only a sign-in in Telmora can help.
    if (upstreamError.contains(QStringLiteral("password token is expired"))
        || upstreamError.contains(QStringLiteral("auth code is required")))
        return QStringLiteral("session expired");
    return upstreamError;
}

QString unreadableMessage()
{
    return QStringLiteral("ipatool ответил непонятно: такого ответа Telmora не ждёт. Установите ipatool %1.")
        .arg(upstream::recommended.text());
}

} // namespace telmora::adapter

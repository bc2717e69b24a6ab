#include "update/feed.h"

#include "update/crypto.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <memory>

namespace telmora {

namespace {

constexpr qint64 maximumArchiveSize = 800000000;

struct LaterDelete {
    // The reply may still be inside its own signal emission when the coroutine resumes.
    void operator()(QObject* object) const { object->deleteLater(); }
};
constexpr int feedTimeoutMs = 15000;

QString textEntry(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

// An integral JSON number; absent for text, fractions and numbers beyond 64 bits.
std::optional<qint64> integerEntry(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 integer = value.toInteger(sentinel);
    if (integer == sentinel && value.toDouble() != static_cast<double>(sentinel))
        return std::nullopt;
    return integer;
}

std::optional<QString> textValue(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

} // namespace

size_t qHash(const UpdateOffer& offer, size_t seed)
{
    return qHashMulti(seed, offer.build, offer.version, offer.notes, offer.url, offer.sha256, offer.size);
}

UpdateError::UpdateError(Kind kind, int status)
    : m_kind(kind)
    , m_status(status)
    , m_what(description().toUtf8())
{
}

QString UpdateError::description() const
{
    switch (m_kind) {
    case Kind::server:
        return QStringLiteral("Сервер обновлений ответил ") + QString::number(m_status) + u'.';
    case Kind::badSignature:
        return QStringLiteral("Подпись обновления не сходится.");
    case Kind::damaged:
        return QStringLiteral("Файл обновления повреждён.");
    case Kind::notWritable:
        return QStringLiteral("Нет прав на замену приложения. Установите его в папку, где у вас есть права на запись.");
    case Kind::invalidApp:
        return QStringLiteral("Внутри обновления нет подходящего приложения.");
    }
    return {};
}

const char* UpdateError::what() const noexcept
{
    return m_what.constData();
}

UpdateSystemError::UpdateSystemError(QString description)
    : m_description(std::move(description))
    , m_what(m_description.toUtf8())
{
}

QString describeUpdateFailure(const std::exception& error)
{
    if (const auto* update = dynamic_cast<const UpdateError*>(&error))
        return update->description();
    if (const auto* system = dynamic_cast<const UpdateSystemError*>(&error))
        return system->description();
    return QString::fromUtf8(error.what());
}

std::optional<QByteArray> decodeStrictBase64(const QString& text)
{
    // Qt's strict mode still accepts missing padding; standard Base64 does not.
    if (text.size() % 4 != 0)
        return std::nullopt;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool alphabet = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')
            || u == u'+' || u == u'/' || u == u'=';
        if (!alphabet)
            return std::nullopt;
    }
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

std::optional<QUrl> updateFeedURL(const QVariantMap& info)
{
    const std::optional<QString> text = textValue(info.value(QStringLiteral("TelmoraUpdateFeed")));
    if (!text || text->isEmpty())
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QByteArray> updatePublicKey(const QVariantMap& info)
{
    const std::optional<QString> text = textValue(info.value(QStringLiteral("TelmoraUpdateKey")));
    if (!text)
        return std::nullopt;
    return decodeStrictBase64(*text);
}

bool updateIsConfigured(const QVariantMap& info)
{
    return updateFeedURL(info).has_value() && updatePublicKey(info).has_value();
}

qint64 currentBuild(const QVariantMap& info)
{
    const std::optional<QString> text = textValue(info.value(QStringLiteral("CFBundleVersion")));
    if (!text)
        return 0;
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(*text).hasMatch())
        return 0;
    bool ok = false;
    const qint64 build = text->toLongLong(&ok, 10);
    return ok ? build : 0;
}

QString currentVersion(const QVariantMap& info)
{
    return textValue(info.value(QStringLiteral("CFBundleShortVersionString"))).value_or(QString());
}

QByteArray signedUpdateMessage(const QString& platform, qint64 build, const QString& version, const QString& sha256,
                               const QString& notes)
{
    return (QStringLiteral("CRVEL-UPDATE-1\n") + platform + u'\n' + QString::number(build) + u'\n' + version + u'\n'
            + sha256 + u'\n' + notes)
        .toUtf8();
}

std::optional<UpdateOffer> parseUpdateFeed(const QByteArray& data, const QUrl& feedURL, qint64 currentBuild,
                                           const QByteArray& publicKey, const QString& platform)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject top = document.object();
    const QJsonValue platformValue = top.value(platform);
    const std::optional<qint64> build = integerEntry(top.value(QStringLiteral("build")));
    if (!platformValue.isObject() || !build)
        return std::nullopt;
    if (*build <= currentBuild)
        return std::nullopt;

    UpdateOffer offer;
    offer.build = *build;
    offer.version = textEntry(top, QStringLiteral("version"));
    offer.notes = textEntry(top, QStringLiteral("notes"));
    const QJsonObject entry = platformValue.toObject();

    static const QRegularExpression sha256Pattern(QStringLiteral("^[0-9a-f]{64}$"));
    const QJsonValue sha256 = entry.value(QStringLiteral("sha256"));
    if (!sha256.isString() || !sha256Pattern.match(sha256.toString()).hasMatch())
        throw UpdateError::badSignature();
    offer.sha256 = sha256.toString();

    // A size is read as an integer (a fraction is cut off) and must be plausible.
    const QJsonValue size = entry.value(QStringLiteral("size"));
    const double sizeNumber = size.toDouble(-1);
    if (!size.isDouble() || !std::isfinite(sizeNumber) || sizeNumber < 1
        || sizeNumber >= static_cast<double>(maximumArchiveSize + 1))
        throw UpdateError::badSignature();
    offer.size = integerEntry(size).value_or(static_cast<qint64>(sizeNumber));

    const QJsonValue url = entry.value(QStringLiteral("url"));
    if (!url.isString())
        throw UpdateError::badSignature();
    const QUrl relative(url.toString(), QUrl::StrictMode);
    if (relative.isEmpty() || !relative.isValid())
        throw UpdateError::badSignature();
    const QUrl absolute = feedURL.resolved(relative);
    // The archive may only come from where the feed came from.
    if (!absolute.isValid() || absolute.host() != feedURL.host() || absolute.scheme() != feedURL.scheme())
        throw UpdateError::badSignature();
    offer.url = absolute;

    const QJsonValue signatureText = entry.value(QStringLiteral("signature"));
    if (!signatureText.isString())
        throw UpdateError::badSignature();
    const std::optional<QByteArray> signature = decodeStrictBase64(signatureText.toString());
    if (!signature || !isValidEd25519PublicKey(publicKey))
        throw UpdateError::badSignature();

    const QByteArray message = signedUpdateMessage(platform, offer.build, offer.version, offer.sha256, offer.notes);
    if (!verifyEd25519(publicKey, message, *signature))
        throw UpdateError::badSignature();
    return offer;
}

QCoro::Task<std::optional<UpdateOffer>> fetchUpdateOffer(QNetworkAccessManager& network, QUrl feedURL, qint64 currentBuild,
                                                         QByteArray publicKey, QString platform)
{
    QNetworkRequest request(feedURL);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(feedTimeoutMs);
    const std::unique_ptr<QNetworkReply, LaterDelete> reply(network.get(request));
    co_await reply.get();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200)
        throw UpdateError::server(status.toInt());
    if (reply->error() != QNetworkReply::NoError)
        throw UpdateSystemError(reply->errorString());
    co_return parseUpdateFeed(reply->readAll(), feedURL, currentBuild, publicKey, platform);
}

} // namespace telmora

#include "model/errors.h"

#include "model/text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <array>
#include <optional>
#include <utility>

namespace telmora {

namespace {

const QString& signInRefusedMessage()
{
    static const QString message = QStringLiteral("Apple отказала во входе, не назвав причину. Попробуйте ещё раз через пару минут. "
                                                  "Если повторится, проверьте на ")
        + QLatin1String(appleAccountHost)
        + QStringLiteral(", что аккаунт ничего не просит подтвердить, а вместо ключей безопасности включены коды из 6 цифр.");
    return message;
}

using Row = std::pair<QString, QString>;

// Rows 16 to 19 ("SAP signer" … "Timeout was reached"), counted from 0.
constexpr std::size_t firstNoConnectionRow = 15;
constexpr std::size_t lastNoConnectionRow = 18;

// Known failures, tried in order; the first pattern found wins.
const std::array<Row, 23>& knownFailures()
{
    static const QString noConnection = QStringLiteral("Нет связи с серверами Apple. Проверьте интернет или VPN.");
    static const QString notPurchased = QStringLiteral("Это приложение не приобреталось на этом аккаунте.");
    static const std::array<Row, 23> rows{{
        {QStringLiteral("password was incorrect"), QStringLiteral("Неверная почта или пароль.")},
        {QStringLiteral("too many login attempts"), QStringLiteral("Слишком много попыток входа. Подождите и попробуйте позже.")},
        {QStringLiteral("rate limited"), QStringLiteral("Apple временно ограничила запросы. Подождите несколько минут.")},
        {QStringLiteral("auth code is required"), QStringLiteral("Нужен код подтверждения. Попробуйте войти ещё раз.")},
        {QStringLiteral("something went wrong"), signInRefusedMessage()},
        {QStringLiteral("session expired"), QStringLiteral("Сессия истекла. Войдите в аккаунт снова.")},
        {QStringLiteral("Not logged in"), QStringLiteral("Сначала войдите в аккаунт Apple.")},
        {QStringLiteral("account is disabled"),
         QStringLiteral("Apple временно заблокировала аккаунт, обычно из-за неверных паролей или кодов 2FA. Разблокируйте его на устройстве.")},
        {QStringLiteral("two-factor auth code required"), QStringLiteral("Нужен код двухфакторной аутентификации.")},
        {QStringLiteral("temporarily unable to be used"),
         QStringLiteral("Apple не находит аккаунт в iTunes Store. Получите любое бесплатное приложение в App Store на этом аккаунте.")},
        {QStringLiteral("purchasing paid apps is not supported"),
         QStringLiteral("Платное приложение отсюда купить нельзя. Сначала купите его в App Store на этом аккаунте.")},
        {QStringLiteral("license is required"), notPurchased},
        {QStringLiteral("you must purchase this app first"), notPurchased},
        {QStringLiteral("item is temporarily unavailable"),
         QStringLiteral("Приложение не приобреталось на этом аккаунте, а получить его нельзя: оно удалено из App Store.")},
        {QStringLiteral("app not found"), QStringLiteral("Приложение удалено из App Store или недоступно в стране этого аккаунта.")},
        {QStringLiteral("SAP signer"), noConnection},
        {QStringLiteral("Could not connect"), noConnection},
        {QStringLiteral("Couldn't resolve"), noConnection},
        {QStringLiteral("Timeout was reached"), noConnection},
        {QStringLiteral("No device found"), QStringLiteral("iPhone не найден. Подключите его кабелем и разблокируйте.")},
        {QStringLiteral("IXErrorDomain Code=46"), QStringLiteral("Удалите приложение с iPhone, перезагрузите его и попробуйте снова.")},
        {QStringLiteral("could not locate Payload"), QStringLiteral("В этом файле нет подписи приложения, установить его нельзя.")},
        {QStringLiteral("Invalid HostID"),
         QStringLiteral("Компьютер и iPhone не доверяют друг другу. Отключите кабель, подключите снова и нажмите «Доверять» на iPhone.")},
    }};
    return rows;
}

// Trims every kind of space and tab, but not line breaks (the text is split at them already).
QString trimmedLine(const QString& line)
{
    qsizetype start = 0;
    qsizetype end = line.size();
    while (start < end && (line[start].isSpace()))
        ++start;
    while (end > start && (line[end - 1].isSpace()))
        --end;
    return line.mid(start, end - start);
}

// The last error field of a tool line, `error="…"` or JSON's `"error":"…"`, when it is
// written in Russian: the package's own ipatool words such messages for the user.
std::optional<QString> russianError(const QString& text)
{
    static const QRegularExpression field(QStringLiteral("(?:\\berror=|\"error\":)\"((?:[^\"\\\\]|\\\\.)*)\""));
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    std::optional<QString> found;
    for (auto it = field.globalMatch(text); it.hasNext();) {
        const QString quoted = it.next().captured(1);
        const QJsonDocument decoded = QJsonDocument::fromJson(QStringLiteral("[\"%1\"]").arg(quoted).toUtf8());
        const QString value = decoded.isArray() ? decoded.array().at(0).toString() : quoted;
        if (value.contains(cyrillic))
            found = value.trimmed();
    }
    return found;
}

} // namespace

QString friendlyError(const QString& text)
{
    const QString cleaned = removeControlSequences(text);
    // "Could not connect to lockdownd" is the phone refusing the computer, not Apple's servers
    // being out of reach: such text skips the four no-connection rows.
    const bool deviceConnection = cleaned.contains(QStringLiteral("lockdownd"), Qt::CaseInsensitive);
    const auto& rows = knownFailures();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (deviceConnection && row >= firstNoConnectionRow && row <= lastNoConnectionRow)
            continue;
        if (cleaned.contains(rows[row].first, Qt::CaseInsensitive))
            return rows[row].second;
    }
    if (const std::optional<QString> message = russianError(cleaned))
        return *message;

    static const QRegularExpression lineBreak(QStringLiteral("[\\r\\n]"));
    QStringList kept;
    for (const QString& piece : cleaned.split(lineBreak)) {
        const QString line = trimmedLine(piece);
        if (!line.isEmpty() && !line.startsWith(QStringLiteral("Enter ")))
            kept.append(line);
    }
    if (kept.isEmpty())
        return QStringLiteral("Неизвестная ошибка");
    for (auto it = kept.crbegin(); it != kept.crend(); ++it) {
        if (it->contains(QStringLiteral("error"), Qt::CaseInsensitive))
            return *it;
    }
    return kept.last();
}

} // namespace telmora

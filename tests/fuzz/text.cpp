// Readers of the tools' text output and of the lookup service's answer.
#include "targets.h"

#include "model/errors.h"
#include "model/parsers.h"
#include "model/text.h"
#include "store/store.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace telmora::fuzz {

namespace {

// What the tool runner hands to a parser: UTF-8 decoded, control sequences removed.
QString toolText(const uint8_t* data, size_t size)
{
    return removeControlSequences(QString::fromUtf8(bytes(data, size)));
}

void requireOneLineName(const QString& name)
{
    require(!name.isEmpty(), "a name is never empty");
    require(!name.contains(u'\n') && !name.contains(u'\r'), "a name is one line");
    require(name == name.trimmed(), "a name has no blanks at its ends");
}

bool hasBlank(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}

} // namespace

int fuzzSearch(const uint8_t* data, size_t size)
{
    for (const AppItem& item : parseSearch(toolText(data, size))) {
        require(!item.id.isEmpty(), "a search result has an id");
        requireOneLineName(item.name);
    }
    return 0;
}

int fuzzToolLines(const uint8_t* data, size_t size)
{
    const QString text = toolText(data, size);

    if (const std::optional<QList<AppItem>> purchases = parsePurchases(text)) {
        for (const AppItem& item : *purchases) {
            require(!item.id.isEmpty(), "a purchase has an id");
            requireOneLineName(item.name);
            require(item.kind == u"iOS App" || item.kind == u"Mac App", "a purchase is an iOS or Mac app");
        }
    }

    const QStringList ids = parseVersionIDs(text);
    require(QSet<QString>(ids.cbegin(), ids.cend()).size() == ids.size(), "version ids are listed once");
    std::optional<qint64> previous;
    for (const QString& id : ids) {
        require(!id.isEmpty() && std::all_of(id.cbegin(), id.cend(), [](QChar c) { return c.isDigit(); }),
                "a version id is digits");
        bool ok = false;
        const qint64 value = id.toLongLong(&ok);
        if (!ok)
            continue;
        require(!previous || *previous >= value, "version ids come largest first");
        previous = value;
    }

    const VersionMeta meta = parseVersionMeta(text);
    for (const std::optional<QString>& field : {meta.display, meta.minOS})
        require(!field || (!field->isEmpty() && !hasBlank(*field)), "a version field is one word");

    if (const std::optional<QString> email = parseEmail(text)) {
        require(text.contains(QStringLiteral("success=true")), "an e-mail only from a successful answer");
        require(!email->isEmpty() && !hasBlank(*email), "an e-mail is one word");
    }

    // Dates as the purchase history gives them, one per line.
    static const QRegularExpression normalised(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4}$"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size() && i < 64; ++i) {
        const QString date = normalizedDate(lines[i]);
        require(date == lines[i] || normalised.match(date).hasMatch(), "a date is normalised or left as it was");
    }
    return 0;
}

int fuzzProgress(const uint8_t* data, size_t size)
{
    // The first byte says how many chunk lengths follow (0 to 7); the rest of the input is
    // the tool's output, cut into chunks of those lengths in turn (one chunk when none).
    const size_t lengthCount = size > 0 ? data[0] % 8 : 0;
    const size_t header = size > 0 ? std::min(size, 1 + lengthCount) : 0;
    const QByteArray stream = bytes(data + header, size - header);
    constexpr qsizetype limit = 4000;

    QString kept;
    qsizetype at = 0;
    for (size_t turn = 0; at < stream.size(); ++turn) {
        const qsizetype length = header > 1 ? data[1 + turn % (header - 1)] + 1 : stream.size();
        // Each chunk is decoded on its own, as the pseudo-terminal delivers it.
        const QString chunk = QString::fromUtf8(stream.mid(at, length));
        at += length;
        const OutputChunk read = readOutputChunk(chunk, kept, limit);
        require(kept.size() <= limit, "only the last characters of the output are kept");
        require(kept.endsWith(read.text.right(limit)), "the kept output ends with the latest chunk");
        if (const std::optional<double> fraction = read.progress.fraction) {
            require(*fraction >= 0 && *fraction <= 1, "a progress fraction lies in 0…1");
        }
        if (const std::optional<QString> speed = read.progress.speed)
            require(speed->endsWith(QStringLiteral("MB/s")), "a speed is in MB/s");
    }
    // What a failed download or install says.
    require(!friendlyError(kept).isEmpty(), "a failure always has a message");
    return 0;
}

int fuzzMessages(const uint8_t* data, size_t size)
{
    require(!friendlyError(QString::fromUtf8(bytes(data, size))).isEmpty(), "a failure always has a message");

    // Parts between NUL bytes: the typed password, the typed code (when there are three
    // parts or more), then pieces of the sign-in transcript with the secrets echoed
    // between them in turn. A private-use character (in no message of ours) marks both
    // ends of each secret, so that finding one in the message is never chance.
    const QList<QByteArray> parts = bytes(data, size).split('\0');
    if (parts.size() < 2)
        return 0;
    const QChar mark(0xE000);
    QStringList typed{QString::fromUtf8(parts[0])};
    if (parts.size() > 2)
        typed.append(QString::fromUtf8(parts[1]));
    QStringList secrets;
    for (const QString& secret : std::as_const(typed))
        secrets.append(mark + secret + mark);
    QString transcript;
    for (qsizetype i = secrets.size(); i < parts.size(); ++i) {
        if (i > secrets.size())
            transcript += secrets[i % secrets.size()];
        transcript += QString::fromUtf8(parts[i]);
    }
    const QString message = loginFailureMessage(transcript, secrets);
    require(!message.isEmpty(), "a failed sign-in always has a message");
    for (const QString& secret : std::as_const(typed)) {
        require(!message.contains(mark + secret + mark), "a typed secret never reaches the message");
        // Nor as the window would show it, without control sequences.
        const QString shown = removeControlSequences(secret);
        require(shown.isEmpty() || !message.contains(mark + shown + mark), "a typed secret is not shown either");
    }
    return 0;
}

int fuzzLookup(const uint8_t* data, size_t size)
{
    if (const auto found = parseLookup(bytes(data, size))) {
        for (const auto& [id, details] : *found)
            require(!details.artwork || details.artwork->isValid(), "an artwork address is valid");
    }
    return 0;
}

} // namespace telmora::fuzz

#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace telmora::adapter {

// What Telmora reads from its ipatool: the shapes of the contract (TOOLS.md), printed the
// way upstream's logger prints them. Text lines look like "3:04PM INF key=value …" with the
// keys sorted and "error" first; JSON lines are one object each. Info goes to standard
// output; errors go to standard error in text mode and to standard output in JSON mode.
class Contract {
public:
    explicit Contract(bool json) : m_json(json) {}

    [[nodiscard]] bool json() const { return m_json; }

    void info(const QJsonObject& fields, const QString& message = {}) const;
    void error(const QString& text) const;
    // Prints the error and gives the exit status of a failed run.
    [[nodiscard]] int fail(const QString& text) const;

    [[nodiscard]] static QByteArray textLine(const QString& level, const QString& message, const QJsonObject& fields);
    [[nodiscard]] static QByteArray jsonLine(const QString& level, const QString& message, const QJsonObject& fields);
    // Go's strconv.Quote, for text values that need quoting.
    [[nodiscard]] static QByteArray goQuote(const QString& text);

private:
    bool m_json;
};

// Unbuffered writes that survive short writes, so prompts and lines keep their order on a
// terminal.
void writeOut(const QByteArray& bytes);
void writeErr(const QByteArray& bytes);

} // namespace telmora::adapter

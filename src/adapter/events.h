#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace telmora::adapter {

// One line of upstream's `--format json` output.
struct Event {
    QString level;      // "info", "error", "warn", "debug"
    QString message;    // the logger's message, e.g. "2FA code is required; …"
    QJsonObject fields; // everything else but the level, message and time

    [[nodiscard]] bool succeeded() const { return fields.value(u"success").toBool(); }
    [[nodiscard]] QString error() const { return fields.value(u"error").toString(); }
};

// What one run of upstream left behind.
struct Outcome {
    bool started = false;
    bool crashed = false;  // ended by a signal
    int status = -1;
    QList<Event> events;   // standard output, line by line; lines that are no JSON object are skipped
    QString errors;        // standard error

    // The last info event holding `key` (the command's result), or null.
    [[nodiscard]] const Event* result(const QString& key) const;
    // The first error event, or null.
    [[nodiscard]] const Event* firstError() const;
};

[[nodiscard]] QList<Event> parseEvents(const QByteArray& output);

// Why the run failed, in the words the contract uses: upstream's own error text, or a
// Russian message when the tool crashed, did not start, or failed without saying why.
// Absent when it exited with status 0 and reported no error.
[[nodiscard]] std::optional<QString> failureOf(const Outcome& outcome, const QString& program);

// The error texts of a store command, as the contract spells what Telmora reacts to: a
// missing or unreadable session is "Not logged in", an expired one "session expired".
[[nodiscard]] QString contractError(const QString& upstreamError);

// Said when the tool answered with something that is not the command's result.
[[nodiscard]] QString unreadableMessage();

} // namespace telmora::adapter

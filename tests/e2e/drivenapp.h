#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTest>

#include <functional>

namespace telmora::test {

// The built application as a process of its own, used only through its window driver
// (`telmora --drive`): each action is one JSON line on a local socket, acting as a user's
// mouse and keyboard would. Actions wait until their item is shown; every wait is bounded.
// A failed action or wait returns false and leaves in failure() what the window showed,
// with a screenshot named after the current step.
class DrivenApp {
public:
    // Generous, so that only a fault runs into it.
    static constexpr int patience = 60000;

    // Screenshots go to `screenshots`, which then holds this run's pictures only.
    explicit DrivenApp(const QString& screenshots)
        : m_screenshots(screenshots)
    {
        QDir folder(screenshots);
        folder.mkpath(QStringLiteral("."));
        for (const QString& old : folder.entryList({QStringLiteral("*.png")}, QDir::Files))
            folder.remove(old);
    }
    ~DrivenApp() { stop(); }
    DrivenApp(const DrivenApp&) = delete;
    DrivenApp& operator=(const DrivenApp&) = delete;

    // Starts `program --drive socket arguments…` in `folder` and connects to its driver.
    bool start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment, const QString& folder,
               const QString& socket)
    {
        m_process.setProgram(program);
        m_process.setWorkingDirectory(folder);
        m_process.setArguments(QStringList{QStringLiteral("--drive"), socket} + arguments);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start();
        return waitFor(QStringLiteral("window driver listening"), [&] {
            m_socket.connectToServer(socket);
            return m_socket.waitForConnected(1000);
        });
    }
    // Never leaves the application running, whatever state the walk ended in.
    void stop()
    {
        m_socket.abort();
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    [[nodiscard]] const QProcess& process() const { return m_process; }

    // Names the screenshots taken from now on.
    void setStep(const QString& step) { m_step = step; }
    [[nodiscard]] const char* failure() const { return m_failure.constData(); }

    bool click(const QString& path, const QString& button = QStringLiteral("left"), const QStringList& modifiers = {})
    {
        return waitUntilShown(path)
            && perform({{QStringLiteral("command"), QStringLiteral("click")}, {QStringLiteral("name"), path},
                        {QStringLiteral("button"), button}, {QStringLiteral("modifiers"), QJsonArray::fromStringList(modifiers)}});
    }
    bool hover(const QString& path)
    {
        return waitUntilShown(path) && perform({{QStringLiteral("command"), QStringLiteral("hover")}, {QStringLiteral("name"), path}});
    }
    bool key(const QString& key, const QStringList& modifiers = {})
    {
        return perform({{QStringLiteral("command"), QStringLiteral("key")}, {QStringLiteral("key"), key},
                        {QStringLiteral("modifiers"), QJsonArray::fromStringList(modifiers)}});
    }
    bool type(const QString& text) { return perform({{QStringLiteral("command"), QStringLiteral("type")}, {QStringLiteral("text"), text}}); }
    // Replaces a field's text as a user does: click into it, select all, type.
    bool fill(const QString& field, const QString& text) { return click(field) && key(QStringLiteral("A"), {QStringLiteral("ctrl")}) && type(text); }
    bool shot(const QString& name)
    {
        QTest::qWait(400); // the picture of a settled window: opening sheets and menus fade in
        return perform({{QStringLiteral("command"), QStringLiteral("shot")}, {QStringLiteral("file"), screenshot(name)}});
    }

    // Undefined when nothing of that name is shown.
    QJsonValue get(const QString& path, const QString& property)
    {
        return send({{QStringLiteral("command"), QStringLiteral("get")}, {QStringLiteral("name"), path}, {QStringLiteral("property"), property}})
            .value(QStringLiteral("value"));
    }
    QString text(const QString& path) { return get(path, QStringLiteral("text")).toString(); }
    bool shown(const QString& path)
    {
        return send({{QStringLiteral("command"), QStringLiteral("exists")}, {QStringLiteral("name"), path}}).value(QStringLiteral("exists")).toBool();
    }
    QStringList names(const QString& prefix)
    {
        QStringList found;
        const QJsonObject answer = send({{QStringLiteral("command"), QStringLiteral("names")}, {QStringLiteral("prefix"), prefix}});
        for (const QJsonValue& name : answer.value(QStringLiteral("names")).toArray())
            found.append(name.toString());
        return found;
    }

    bool waitFor(const QString& what, const std::function<bool()>& condition)
    {
        const QDeadlineTimer deadline(patience);
        while (!condition()) {
            if (m_process.state() == QProcess::NotRunning)
                return fail(QStringLiteral("waiting for %1: the application is not running (exit code %2)").arg(what).arg(m_process.exitCode()));
            if (deadline.hasExpired())
                return fail(QStringLiteral("no %1 within %2 s").arg(what).arg(patience / 1000));
            QTest::qWait(10);
        }
        return true;
    }
    bool waitUntilShown(const QString& path)
    {
        return waitFor(QStringLiteral("«%1» shown").arg(path), [&] { return shown(path); });
    }
    bool waitUntilGone(const QString& path)
    {
        return waitFor(QStringLiteral("«%1» gone").arg(path), [&] { return !shown(path); });
    }
    bool waitForText(const QString& path, const QString& expected)
    {
        return waitFor(QStringLiteral("«%1» reading «%2»").arg(path, expected), [&] { return text(path) == expected; });
    }
    bool waitForExit()
    {
        return QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, patience)
            || fail(QStringLiteral("the application did not quit within %1 s").arg(patience / 1000));
    }

private:
    QString screenshot(const QString& name) const { return QDir(m_screenshots).filePath(name + QStringLiteral(".png")); }

    QJsonObject send(const QJsonObject& command)
    {
        if (m_socket.state() != QLocalSocket::ConnectedState)
            return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("not connected to the window")}};
        m_socket.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
        m_socket.flush();
        // A blocking wait: the application answers at once, and the test's own server only
        // needs the event loop between commands.
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(patience))
                return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("no answer: ") + m_socket.errorString()}};
        }
        return QJsonDocument::fromJson(m_socket.readLine()).object();
    }
    bool perform(const QJsonObject& command)
    {
        const QJsonObject answer = send(command);
        return answer.value(QStringLiteral("ok")).toBool()
            || fail(command.value(QStringLiteral("command")).toString() + QStringLiteral(": ") + answer.value(QStringLiteral("error")).toString());
    }
    bool fail(const QString& what)
    {
        const QString picture = screenshot(QStringLiteral("failure-") + m_step);
        const bool saved = send({{QStringLiteral("command"), QStringLiteral("shot")}, {QStringLiteral("file"), picture}}).value(QStringLiteral("ok")).toBool();
        m_failure = (what + QStringLiteral("\n   The window shows: ") + describeWindow()
                     + (saved ? QStringLiteral("\n   Screenshot: ") + picture : QString()))
                        .toUtf8();
        return false;
    }
    // The shown object names, each with its text when it has one.
    QString describeWindow()
    {
        QStringList shownItems;
        for (const QString& name : names(QString())) {
            const QString text = this->text(name).simplified();
            shownItems.append(text.isEmpty() ? name : QStringLiteral("%1 «%2»").arg(name, text.left(80)));
        }
        return shownItems.isEmpty() ? QStringLiteral("nothing (it does not answer)") : shownItems.join(QStringLiteral(", "));
    }

    QString m_screenshots;
    QString m_step = QStringLiteral("start");
    QProcess m_process;
    QLocalSocket m_socket;
    QByteArray m_failure;
};

} // namespace telmora::test

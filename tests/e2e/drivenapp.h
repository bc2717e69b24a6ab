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

using namespace Qt::Literals::StringLiterals;

// The built application as a process of its own, used only through its window driver
// (`telmora --drive`): each action is one JSON line on a local socket, acting as a user's
// mouse and keyboard would. Actions wait until their item is shown; every wait is bounded.
// A failed action or wait returns false and leaves in failure() what the window showed,
// with a screenshot named after the current step.
class DrivenApp {
public:
    static constexpr int patience = 60000; // generous: only a fault runs into it

    // Screenshots go to `screenshots`, which then holds this run's pictures only.
    explicit DrivenApp(const QString& screenshots) : m_screenshots(screenshots)
    {
        QDir folder(screenshots);
        folder.mkpath(u"."_s);
        for (const QString& old : folder.entryList({u"*.png"_s}, QDir::Files))
            folder.remove(old);
    }
    ~DrivenApp() // never leaves the application running
    {
        m_socket.abort();
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    DrivenApp(const DrivenApp&) = delete;
    DrivenApp& operator=(const DrivenApp&) = delete;

    // Starts `program --drive socket arguments…` in `folder` and connects to its driver.
    bool start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment, const QString& folder,
               const QString& socket)
    {
        m_process.setWorkingDirectory(folder);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(program, QStringList{u"--drive"_s, socket} + arguments);
        return waitFor(u"window driver listening"_s, [&] {
            m_socket.connectToServer(socket);
            return m_socket.waitForConnected(1000);
        });
    }
    [[nodiscard]] const QProcess& process() const { return m_process; }

    // Names the screenshots taken from now on.
    void setStep(const QString& step) { m_step = step; }
    [[nodiscard]] const char* failure() const { return m_failure.constData(); }

    bool click(const QString& path, const QString& button = u"left"_s)
    {
        return waitUntilShown(path) && perform({{"command", "click"}, {"name", path}, {"button", button}, {"modifiers", QJsonArray()}});
    }
    bool hover(const QString& path) { return waitUntilShown(path) && perform({{"command", "hover"}, {"name", path}}); }
    bool key(const QString& key, const QStringList& modifiers = {})
    {
        return perform({{"command", "key"}, {"key", key}, {"modifiers", QJsonArray::fromStringList(modifiers)}});
    }
    // Replaces a field's text as a user does: click into it, select all, type.
    bool fill(const QString& field, const QString& text)
    {
        return click(field) && key(u"A"_s, {u"ctrl"_s}) && perform({{"command", "type"}, {"text", text}});
    }
    bool shot(const QString& name)
    {
        QTest::qWait(400); // the picture of a settled window: opening sheets and menus fade in
        return perform({{"command", "shot"}, {"file", screenshot(name)}});
    }

    // Undefined when nothing of that name is shown.
    QJsonValue get(const QString& path, const QString& property)
    {
        return send({{"command", "get"}, {"name", path}, {"property", property}}).value(u"value"_s);
    }
    QString text(const QString& path) { return get(path, u"text"_s).toString(); }
    bool shown(const QString& path) { return send({{"command", "exists"}, {"name", path}}).value(u"exists"_s).toBool(); }
    QStringList names(const QString& prefix)
    {
        QStringList found;
        for (const QJsonValue& name : send({{"command", "names"}, {"prefix", prefix}}).value(u"names"_s).toArray())
            found.append(name.toString());
        return found;
    }

    bool waitFor(const QString& what, const std::function<bool()>& condition)
    {
        const QDeadlineTimer deadline(patience);
        while (!condition()) {
            if (m_process.state() == QProcess::NotRunning)
                return fail(u"waiting for %1: the application is not running (exit code %2)"_s.arg(what).arg(m_process.exitCode()));
            if (deadline.hasExpired())
                return fail(u"no %1 within %2 s"_s.arg(what).arg(patience / 1000));
            QTest::qWait(10);
        }
        return true;
    }
    bool waitUntilShown(const QString& path) { return waitFor(u"«%1» shown"_s.arg(path), [&] { return shown(path); }); }
    bool waitUntilGone(const QString& path) { return waitFor(u"«%1» gone"_s.arg(path), [&] { return !shown(path); }); }
    bool waitForText(const QString& path, const QString& expected)
    {
        return waitFor(u"«%1» reading «%2»"_s.arg(path, expected), [&] { return text(path) == expected; });
    }
    bool waitForExit()
    {
        return QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, patience)
            || fail(u"the application did not quit within %1 s"_s.arg(patience / 1000));
    }

private:
    QString screenshot(const QString& name) const { return QDir(m_screenshots).filePath(name + u".png"_s); }

    QJsonObject send(const QJsonObject& command)
    {
        const auto error = [](const QString& what) { return QJsonObject{{"ok", false}, {"error", what}}; };
        if (m_socket.state() != QLocalSocket::ConnectedState)
            return error(u"not connected to the window"_s);
        m_socket.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
        m_socket.flush();
        // A blocking wait: the application answers at once, and the test's own server only
        // needs the event loop between commands.
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(patience))
                return error(u"no answer: "_s + m_socket.errorString());
        }
        return QJsonDocument::fromJson(m_socket.readLine()).object();
    }
    bool perform(const QJsonObject& command)
    {
        const QJsonObject answer = send(command);
        return answer.value(u"ok"_s).toBool()
            || fail(command.value(u"command"_s).toString() + u": "_s + answer.value(u"error"_s).toString());
    }
    bool fail(const QString& what)
    {
        const QString picture = screenshot(u"failure-"_s + m_step);
        const bool saved = send({{"command", "shot"}, {"file", picture}}).value(u"ok"_s).toBool();
        // What the window shows: the object names, each with its text when it has one.
        QStringList shownItems;
        for (const QString& name : names(QString())) {
            const QString text = this->text(name).simplified();
            shownItems.append(text.isEmpty() ? name : u"%1 «%2»"_s.arg(name, text.left(80)));
        }
        m_failure = (what + u"\n   The window shows: "_s
                     + (shownItems.isEmpty() ? u"nothing (it does not answer)"_s : shownItems.join(u", "_s))
                     + (saved ? u"\n   Screenshot: "_s + picture : QString()))
                        .toUtf8();
        return false;
    }

    QString m_screenshots;
    QString m_step = u"start"_s;
    QProcess m_process;
    QLocalSocket m_socket;
    QByteArray m_failure;
};

} // namespace telmora::test

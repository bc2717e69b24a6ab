#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QJsonObject>
#include <QLocalServer>
#include <QPointer>
#include <QTimer>

class QLocalSocket;
class QQuickItem;
class QQuickWindow;

namespace telmora {

// Lets another process use the window as a person would, for end-to-end tests
// (`telmora --drive NAME`): it listens on a local socket for this user only and obeys one
// JSON command per line, answering one JSON line each ({"ok":true,...} or
// {"ok":false,"error":"..."}).
//
//   {"command":"click","name":"row_1/mainAction","button":"right","modifiers":["ctrl"]}
//   {"command":"key","key":"Return","modifiers":[]}   {"command":"type","text":"Telegram"}
//   {"command":"hover","name":"tile_1"}               {"command":"get","name":"x","property":"text"}
//   {"command":"exists","name":"loginView"}           {"command":"names","prefix":"file_"}
//   {"command":"shot","file":"/absolute/path.png"}
//
// Items are found by object name in the visual tree (a popup by its own name) and count only
// while shown; "a/b" is a shown b inside a shown a. Input takes the path of the system's own
// mouse and keyboard events, so focus, popups and shortcuts behave as they do for a user; the
// pointer acts on the window as it is next drawn, once pending layouts are done.
class WindowDriver : public QObject {
    Q_OBJECT
public:
    explicit WindowDriver(QQuickWindow* window, QObject* parent = nullptr);

    // `name` is a socket name or an absolute path; false when the socket cannot be made.
    [[nodiscard]] bool listen(const QString& name);
    [[nodiscard]] QString errorString() const { return m_server.errorString(); }

private:
    using Command = QJsonObject (WindowDriver::*)(const QJsonObject&);

    void accept();
    void serve(QLocalSocket* client);
    void waitForFrame(QLocalSocket* client, const QJsonObject& command);
    [[nodiscard]] bool isWaiting(const QLocalSocket* client) const;
    void runWaiting();
    static void reply(QLocalSocket* client, const QJsonObject& answer);
    // One command's answer; never throws, whatever the command holds.
    [[nodiscard]] QJsonObject run(const QJsonObject& command);

    QJsonObject click(const QJsonObject& command);
    QJsonObject key(const QJsonObject& command);
    QJsonObject type(const QJsonObject& command);
    QJsonObject hover(const QJsonObject& command);
    QJsonObject get(const QJsonObject& command);
    QJsonObject exists(const QJsonObject& command);
    QJsonObject names(const QJsonObject& command);
    QJsonObject shot(const QJsonObject& command);

    [[nodiscard]] QQuickItem* find(const QString& path) const;
    void sendMouse(QEvent::Type type, QPointF position, Qt::MouseButton button, Qt::MouseButtons held,
                   Qt::KeyboardModifiers modifiers);
    void sendKey(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, const QString& text);
    [[nodiscard]] int timestamp();

    struct Waiting {
        QPointer<QLocalSocket> client;
        QJsonObject command;
    };

    QPointer<QQuickWindow> m_window;
    QLocalServer m_server;
    // Pointer commands waiting for the next frame; their clients' later lines wait too.
    QList<Waiting> m_waiting;
    QTimer m_frameTimeout;
    QElapsedTimer m_clock;
    int m_lastTimestamp = 0;
};

} // namespace telmora

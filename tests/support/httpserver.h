#pragma once

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <functional>

namespace telmora::test {

// An HTTP/1.1 server on 127.0.0.1 (random port, listening once constructed) standing in for
// the web services. Routes match the path only (the query is recorded); other paths answer
// 404. Every response closes the connection; destroying the server cuts open ones. It needs
// its thread's event loop (QCoro::waitFor, QTRY_*).
class HttpServer : public QObject {
public:
    struct Request {
        QString path, query; // decoded, without the query; raw, after "?"
    };

    struct Response {
        int status = 200;
        QByteArray body;
        QString file;           // when set, the body is this file's content
        int delayMs = 0;        // answer after this long
        bool hang = false;      // never answer
        qint64 truncateAt = -1; // announce the full length, close after this many body bytes
        QList<std::pair<QByteArray, QByteArray>> headers; // besides Content-Length and Connection
    };

    using Handler = std::function<Response(const Request&)>;

    explicit HttpServer(QObject* parent = nullptr) : QObject(parent), m_server(new QTcpServer(this))
    {
        // Sockets are the server's children: they go with it.
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        if (!m_server->listen(QHostAddress::LocalHost, 0))
            qFatal("HttpServer: cannot listen on 127.0.0.1: %s", qPrintable(m_server->errorString()));
    }

    // The same response for every request to `path` (replacing an earlier route or handler).
    void route(const QString& path, const Response& response) { handle(path, [response](const Request&) { return response; }); }
    void handle(const QString& path, Handler handler) { m_handlers.insert(path, std::move(handler)); }
    [[nodiscard]] static Response fileResponse(const QString& filePath) { return {.file = filePath}; }

    // "http://127.0.0.1:<port>" followed by `pathAndQuery`.
    [[nodiscard]] QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server->serverPort()).arg(pathAndQuery));
    }
    [[nodiscard]] int requestCount(const QString& path) const { return int(queries(path).size()); }
    [[nodiscard]] int totalRequestCount() const { return int(m_requests.size()); }
    // The query strings of the requests to `path`, oldest first.
    [[nodiscard]] QStringList queries(const QString& path) const
    {
        QStringList result;
        for (const Request& request : m_requests)
            if (request.path == path)
                result.append(request.query);
        return result;
    }

private:
    // Requests have no body: the head ends the request.
    void answer(QTcpSocket* socket)
    {
        const QByteArray buffered = socket->peek(socket->bytesAvailable());
        const qsizetype end = buffered.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        socket->read(end + 4);
        const QByteArray target = buffered.left(buffered.indexOf('\r')).split(' ').value(1);
        const qsizetype question = target.indexOf('?');
        const Request request{QUrl::fromPercentEncoding(question < 0 ? target : target.left(question)),
                              question < 0 ? QString() : QString::fromUtf8(target.mid(question + 1))};
        m_requests.append(request);
        const auto handler = m_handlers.constFind(request.path);
        const Response response = handler == m_handlers.constEnd() ? Response{.status = 404, .body = "not found"} : (*handler)(request);
        if (response.hang)
            return;
        QTimer::singleShot(response.delayMs, socket, [socket, response] {
            QByteArray body = response.body;
            int status = response.status;
            if (!response.file.isEmpty()) {
                QFile file(response.file);
                status = file.open(QIODevice::ReadOnly) ? status : 500;
                body = file.readAll();
            }
            QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Length: "
                + QByteArray::number(body.size()) + "\r\nConnection: close\r\n";
            for (const auto& [name, value] : response.headers)
                head += name + ": " + value + "\r\n";
            socket->write(head + "\r\n");
            socket->write(response.truncateAt < 0 ? body : body.left(response.truncateAt));
            socket->disconnectFromHost();
        });
    }

    QTcpServer* m_server;
    QHash<QString, Handler> m_handlers;
    QList<Request> m_requests;
};

} // namespace telmora::test

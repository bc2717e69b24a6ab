#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>

class QTcpServer;
class QTcpSocket;

namespace telmora::test {

// An HTTP/1.1 server on 127.0.0.1 (random port, listening once constructed) standing in for
// the web services. Routes match the path only (the query is recorded); other paths answer
// 404. Every response closes the connection; destroying the server cuts open ones. It needs
// its thread's event loop (QCoro::waitFor, QTRY_*).
class HttpServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QString path;  // decoded, without the query
        QString query; // raw, after "?"
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

    explicit HttpServer(QObject* parent = nullptr);

    // The same response for every request to `path` (replacing an earlier route or handler).
    void route(const QString& path, const Response& response)
    {
        m_handlers.insert(path, [response](const Request&) { return response; });
    }
    void handle(const QString& path, Handler handler) { m_handlers.insert(path, std::move(handler)); }
    [[nodiscard]] static Response fileResponse(const QString& filePath, int status = 200)
    {
        return {.status = status, .file = filePath};
    }

    // "http://127.0.0.1:<port>" followed by `pathAndQuery`.
    [[nodiscard]] QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;
    [[nodiscard]] int requestCount(const QString& path) const { return int(queries(path).size()); }
    [[nodiscard]] int totalRequestCount() const { return int(m_requests.size()); }
    // The query strings of the requests to `path`, oldest first.
    [[nodiscard]] QStringList queries(const QString& path) const;

private:
    void answer(QTcpSocket* socket);

    QTcpServer* m_server;
    QHash<QString, Handler> m_handlers;
    QList<Request> m_requests;
};

} // namespace telmora::test

#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>

class QTcpServer;
class QTcpSocket;

namespace telmora::test {

// A small HTTP/1.1 server on 127.0.0.1 with a random port, for tests that need a web
// service (lookup, update feed, update archive) without reaching the internet.
//
//     HttpServer server;                                  // listening once constructed
//     server.route("/feed.json", {.body = feedBytes});    // 200 with that body
//     server.route("/missing", {.status = 404});
//     server.route("/big.zip", HttpServer::fileResponse(path));
//     server.route("/slow", {.body = "x", .delayMs = 500});
//     server.route("/never", {.hang = true});             // headers never sent
//     server.handle("/lookup", [](const HttpServer::Request& r) { ... return response; });
//     QUrl url = server.url("/feed.json");
//     ... server.requestCount("/lookup"), server.queries("/lookup") ...
//
// Routes match the path only (the query string is recorded, not matched); an unknown path
// answers 404. Every response closes the connection. The server lives on the thread that
// created it, so tests must run an event loop (QCoro::waitFor, QTRY_*) while they wait.
class HttpServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;                 // "GET", "POST", ...
        QString path;                      // decoded path without the query
        QString query;                     // the raw query string after "?", "" when none
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    struct Response {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers; // added after the standard ones
        QString file;        // when set, the body is this file's content, streamed
        int delayMs = 0;     // wait this long before answering
        bool hang = false;   // accept the request and never answer
        qint64 truncateAt = -1; // announce the full length but close after this many body bytes
    };

    using Handler = std::function<Response(const Request&)>;

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    // The same response for every request to `path` (replaces an earlier route or handler).
    void route(const QString& path, const Response& response);
    // A response computed per request.
    void handle(const QString& path, Handler handler);
    void removeRoute(const QString& path);

    [[nodiscard]] static Response fileResponse(const QString& filePath, int status = 200);

    [[nodiscard]] quint16 port() const;
    // "http://127.0.0.1:<port>" followed by `pathAndQuery`.
    [[nodiscard]] QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    [[nodiscard]] int requestCount(const QString& path) const;
    [[nodiscard]] int totalRequestCount() const;
    // The query strings of the requests to `path`, oldest first.
    [[nodiscard]] QStringList queries(const QString& path) const;
    [[nodiscard]] QList<Request> requests() const { return m_requests; }
    void clearRecords();

private:
    struct Connection;

    void accept();
    void readFrom(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Request& request);
    void send(QTcpSocket* socket, const Response& response);
    void pump(QTcpSocket* socket);

    QTcpServer* m_server = nullptr;
    QHash<QString, Handler> m_handlers;
    QHash<QTcpSocket*, Connection*> m_connections;
    QList<Request> m_requests;
};

} // namespace telmora::test

#include "httpserver.h"

#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace telmora::test {

namespace {

constexpr qint64 chunkSize = 256 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

struct HttpServer::Connection {
    QByteArray incoming;
    bool answered = false;
    // What is still to be streamed from a file, and how much of the body may still go out.
    std::unique_ptr<QFile> file;
    qint64 bodyLeft = 0;
};

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("HttpServer: cannot listen on 127.0.0.1: %s", qPrintable(m_server->errorString()));
}

HttpServer::~HttpServer()
{
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        it.key()->disconnect(this);
        it.key()->abort();
        delete it.value();
    }
}

void HttpServer::route(const QString& path, const Response& response)
{
    m_handlers.insert(path, [response](const Request&) { return response; });
}

void HttpServer::handle(const QString& path, Handler handler)
{
    m_handlers.insert(path, std::move(handler));
}

void HttpServer::removeRoute(const QString& path)
{
    m_handlers.remove(path);
}

HttpServer::Response HttpServer::fileResponse(const QString& filePath, int status)
{
    Response response;
    response.status = status;
    response.file = filePath;
    return response;
}

quint16 HttpServer::port() const
{
    return m_server->serverPort();
}

QUrl HttpServer::url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery));
}

int HttpServer::requestCount(const QString& path) const
{
    int count = 0;
    for (const Request& request : m_requests)
        count += request.path == path ? 1 : 0;
    return count;
}

int HttpServer::totalRequestCount() const
{
    return static_cast<int>(m_requests.size());
}

QStringList HttpServer::queries(const QString& path) const
{
    QStringList result;
    for (const Request& request : m_requests) {
        if (request.path == path)
            result.append(request.query);
    }
    return result;
}

void HttpServer::clearRecords()
{
    m_requests.clear();
}

void HttpServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, new Connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { pump(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            delete m_connections.take(socket);
            socket->deleteLater();
        });
    }
}

void HttpServer::readFrom(QTcpSocket* socket)
{
    Connection* connection = m_connections.value(socket);
    if (!connection)
        return;
    connection->incoming += socket->readAll();
    if (connection->answered)
        return;
    const qsizetype headerEnd = connection->incoming.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    const QList<QByteArray> lines = connection->incoming.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request;
    request.method = requestLine.value(0);
    const QByteArray target = requestLine.value(1);
    const qsizetype question = target.indexOf('?');
    request.path = QUrl::fromPercentEncoding(question < 0 ? target : target.left(question));
    request.query = question < 0 ? QString() : QString::fromUtf8(target.mid(question + 1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qint64 bodyLength = request.headers.value("content-length", "0").toLongLong();
    if (connection->incoming.size() - (headerEnd + 4) < bodyLength)
        return; // the body is still arriving
    request.body = connection->incoming.mid(headerEnd + 4, bodyLength);
    connection->answered = true;
    m_requests.append(request);
    respond(socket, request);
}

void HttpServer::respond(QTcpSocket* socket, const Request& request)
{
    const auto handler = m_handlers.constFind(request.path);
    Response response;
    if (handler == m_handlers.constEnd()) {
        response.status = 404;
        response.body = "not found";
    } else {
        response = (*handler)(request);
    }
    if (response.hang)
        return;
    if (response.delayMs <= 0) {
        send(socket, response);
        return;
    }
    QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(response.delayMs, this, [this, guarded, response] {
        if (guarded && m_connections.contains(guarded.data()))
            send(guarded.data(), response);
    });
}

void HttpServer::send(QTcpSocket* socket, const Response& response)
{
    Connection* connection = m_connections.value(socket);
    if (!connection)
        return;
    qint64 length = response.body.size();
    if (!response.file.isEmpty()) {
        connection->file = std::make_unique<QFile>(response.file);
        if (!connection->file->open(QIODevice::ReadOnly)) {
            connection->file.reset();
            Response missing;
            missing.status = 500;
            missing.body = "cannot open " + response.file.toUtf8();
            send(socket, missing);
            return;
        }
        length = connection->file->size();
    }

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    socket->write(head);

    connection->bodyLeft = response.truncateAt >= 0 ? qMin(response.truncateAt, length) : length;
    if (!connection->file) {
        // A truncated body ends here too: the client sees fewer bytes than announced.
        socket->write(response.body.left(connection->bodyLeft));
        connection->bodyLeft = 0;
        socket->disconnectFromHost();
        return;
    }
    pump(socket);
}

// Streams the next piece of a file response once the socket has room for it.
void HttpServer::pump(QTcpSocket* socket)
{
    Connection* connection = m_connections.value(socket);
    if (!connection || !connection->file)
        return;
    if (socket->bytesToWrite() > chunkSize)
        return;
    if (connection->bodyLeft <= 0) {
        connection->file.reset();
        socket->disconnectFromHost();
        return;
    }
    const QByteArray piece = connection->file->read(qMin(chunkSize, connection->bodyLeft));
    if (piece.isEmpty()) {
        connection->file.reset();
        socket->disconnectFromHost();
        return;
    }
    connection->bodyLeft -= piece.size();
    socket->write(piece);
}

} // namespace telmora::test

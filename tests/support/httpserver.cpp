#include "httpserver.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace telmora::test {

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
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

QUrl HttpServer::url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server->serverPort()).arg(pathAndQuery));
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

// Requests have no body: the head ends the request.
void HttpServer::answer(QTcpSocket* socket)
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

} // namespace telmora::test

#include "ui/artwork.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QBuffer>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

namespace telmora {

namespace {

class ArtworkResponse : public QQuickImageResponse {
public:
    QQuickTextureFactory* textureFactory() const override { return QQuickTextureFactory::textureFactoryForImage(m_image); }
    QString errorString() const override { return m_error; }

    // Called once, from any thread; the engine deletes the response after finished().
    void deliver(const QImage& image, const QString& error)
    {
        m_image = image;
        m_error = image.isNull() && error.isEmpty() ? QStringLiteral("no image") : error;
        Q_EMIT finished();
    }

private:
    QImage m_image;
    QString m_error;
};

} // namespace

ArtworkProvider::ArtworkProvider()
    : m_network(new QNetworkAccessManager)
{
    m_network->moveToThread(QCoreApplication::instance()->thread());
    auto* cache = new QNetworkDiskCache(m_network);
    cache->setCacheDirectory(QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)).filePath(QStringLiteral("artwork")));
    cache->setMaximumCacheSize(64 * 1024 * 1024);
    m_network->setCache(cache);
}

ArtworkProvider::~ArtworkProvider()
{
    m_network->deleteLater();
}

QQuickImageResponse* ArtworkProvider::requestImageResponse(const QString& id, const QSize& requestedSize)
{
    auto* response = new ArtworkResponse;
    const QUrl url(QUrl::fromPercentEncoding(id.toUtf8()));
    const int size = std::max(requestedSize.width(), requestedSize.height()) > 0
        ? std::max(requestedSize.width(), requestedSize.height())
        : 128;
    if (!url.isValid() || (url.scheme() != u"https" && url.scheme() != u"http")) {
        response->deliver({}, QStringLiteral("unsupported address"));
        return response;
    }
    // Requests are made on the interface thread, where the network manager lives; the
    // response stays alive until it has delivered.
    QNetworkAccessManager* network = m_network;
    QMetaObject::invokeMethod(network, [network, url, size, response] {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferCache);
        QNetworkReply* reply = network->get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, size, response] {
            reply->deleteLater();
            if (reply->error() != QNetworkReply::NoError) {
                response->deliver({}, reply->errorString());
                return;
            }
            const QByteArray data = reply->readAll();
            QThreadPool::globalInstance()->start([data, size, response] { response->deliver(roundedIcon(data, size), {}); });
        });
    }, Qt::QueuedConnection);
    return response;
}

QImage ArtworkProvider::roundedIcon(const QByteArray& data, int size)
{
    QBuffer buffer;
    buffer.setData(data);
    QImageReader reader(&buffer);
    const QImage source = reader.read();
    if (source.isNull() || size <= 0)
        return {};
    // Crop to fill the square, then clip to the icon's rounded shape.
    const QImage scaled = source.scaled(size, size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0, 0, size, size), size * 0.23, size * 0.23);
    painter.setClipPath(shape);
    painter.drawImage(QPointF((size - scaled.width()) / 2.0, (size - scaled.height()) / 2.0), scaled);
    return icon;
}

} // namespace telmora

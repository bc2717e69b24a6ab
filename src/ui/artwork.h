#pragma once

#include <QQuickAsyncImageProvider>

class QNetworkAccessManager;

namespace telmora {

// App artwork for the icons: "image://artwork/<percent-encoded address>" downloads the image
// (through a disk cache), scales it to the requested square and rounds its corners like the
// icon's shape, off the interface thread. A failed download reports an error, so the icon
// keeps its placeholder letter.
class ArtworkProvider : public QQuickAsyncImageProvider {
public:
    ArtworkProvider();
    ~ArtworkProvider() override;

    QQuickImageResponse* requestImageResponse(const QString& id, const QSize& requestedSize) override;

    // The square image with corners of radius size × 0.23; null when `data` is no image.
    [[nodiscard]] static QImage roundedIcon(const QByteArray& data, int size);

private:
    QNetworkAccessManager* m_network; // lives on the interface thread
};

} // namespace telmora

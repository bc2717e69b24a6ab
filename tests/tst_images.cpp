// The images the interface draws: tinted symbols and templates, and app artwork fetched,
// cropped and rounded off the interface thread.
#include "ui/artwork.h"
#include "ui/icons.h"

#include "httpserver.h"
#include "sandbox.h"

#include <QBuffer>
#include <QPainter>
#include <QQuickImageResponse>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace telmora;
using namespace Qt::Literals::StringLiterals;

// Pixels as opaque as the colour, or -1 when one is more opaque or of another colour (where the
// antialiased edges of two strokes meet, rounding may move a channel by one).
static int opaquePixelsOf(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int off = qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green()) + qAbs(pixel.blue() - colour.blue());
            if (pixel.alpha() > colour.alpha() || (pixel.alpha() == colour.alpha() && off > 2))
                return -1;
            count += pixel.alpha() == colour.alpha();
        }
    return count;
}

class ImagesTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder;

private Q_SLOTS:
    void imagesHaveTheirSizeAndColour_data()
    {
        // A 10x4 template, opaque on its left half, in a file whose name needs encoding in a URL.
        QImage image(10, 4, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter(&image).fillRect(0, 0, 5, 4, Qt::black);
        const QString png = folder.filePath(u"template %.png"_s);
        QVERIFY(image.save(png));
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(png, "/"));

        QTest::addColumn<QString>("id");
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<QSize>("expected"); // 0x0: a null image
        QTest::addColumn<int>("opaque");     // pixels fully of the id's colour; -2: some
        const QSize none(0, 0);
        for (const QString& symbol : iconSymbols())
            QTest::newRow(qPrintable(symbol)) << "3366cc/symbol/" + symbol << QSize(32, 32) << QSize(32, 32) << -2;
        QTest::newRow("svg default size") << "ff0000/symbol/xmark" << QSize() << QSize(16, 16) << -2;
        QTest::newRow("svg one side") << "ff0000/symbol/xmark" << QSize(0, 20) << QSize(20, 20) << -2;
        QTest::newRow("svg alpha") << "80ff0000/symbol/plus" << QSize(24, 24) << QSize(24, 24) << 52;
        QTest::newRow("png natural") << "80ff0000/file/" + encoded << QSize() << QSize(10, 4) << 20;
        QTest::newRow("png one side, path after file") << "80ff0000/file" + encoded << QSize(20, 0) << QSize(20, 8) << -2;
        QTest::newRow("unknown symbol") << "ff0000/symbol/no.such" << QSize() << none << 0;
        QTest::newRow("missing png") << "ff0000/file/" + png + ".gone" << QSize() << none << 0;
        QTest::newRow("short colour") << "f00/symbol/xmark" << QSize() << none << 0;
        QTest::newRow("no kind") << "ff0000" << QSize() << none << 0;
    }
    void imagesHaveTheirSizeAndColour()
    {
        QFETCH(QString, id);
        QFETCH(QSize, requested);
        QFETCH(QSize, expected);
        QFETCH(int, opaque);
        QSize size(-1, -1);
        const QImage image = IconProvider().requestImage(id, &size, requested);
        QCOMPARE(image.size(), expected);
        QCOMPARE(size, expected);
        const int found = opaquePixelsOf(image, QColor(u'#' + id.section(u'/', 0, 0)));
        QVERIFY2(opaque == -2 ? found > 0 : found == opaque, qPrintable(QString::number(found)));
    }

    void artworkIsCroppedRoundedOrFails()
    {
        const test::Sandbox home; // the artwork cache stays in it
        QImage wide(200, 100, QImage::Format_RGB32);
        wide.fill(Qt::blue);
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && wide.save(&buffer, "PNG"));
        test::HttpServer server;
        server.route(u"/icon.png"_s, {.body = png});
        server.route(u"/broken.png"_s, {.body = "not an image"});

        ArtworkProvider provider;
        const auto fetch = [&](const QString& path) {
            const QString id = QString::fromLatin1(QUrl::toPercentEncoding(server.url(path).toString()));
            std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(id, QSize(44, 44)));
            QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
            [&] { QVERIFY(finished.wait(5000)); }();
            std::unique_ptr<QQuickTextureFactory> texture(response->textureFactory());
            return std::pair(texture ? texture->image() : QImage(), response->errorString());
        };
        const auto [icon, none] = fetch(u"/icon.png"_s);
        QCOMPARE(icon.size(), QSize(44, 44)); // cropped to fill the square
        QCOMPARE(none, QString());
        QCOMPARE(icon.pixelColor(22, 22), QColor(Qt::blue));
        QCOMPARE(icon.pixelColor(0, 0).alpha(), 0); // the rounded corner
        for (const QString& failing : {u"/broken.png"_s, u"/missing.png"_s}) {
            const auto [image, error] = fetch(failing);
            QVERIFY(image.isNull() && !error.isEmpty());
        }
    }
};

QTEST_MAIN(ImagesTest)
#include "tst_images.moc"

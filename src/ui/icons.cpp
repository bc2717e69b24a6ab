#include "ui/icons.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QSvgRenderer>
#include <QUrl>

#include <utility>

namespace telmora {

namespace {

// Design symbol (SF Symbols naming) → Tabler icon file. Outline icons, except the symbols
// ending in ".fill", which use Tabler's filled variant ("<name>-filled.svg").
constexpr std::pair<const char*, const char*> table[] = {
    {"square.grid.2x2", "layout-grid"},
    {"bag", "shopping-bag"},
    {"arrow.down.circle", "circle-arrow-down"},
    {"xmark", "x"},
    {"magnifyingglass", "search"},
    {"person.crop.circle", "user-circle"},
    {"ellipsis", "dots"},
    {"checkmark", "check"},
    {"exclamationmark", "exclamation-mark"},
    {"doc.fill", "file-filled"},
    {"exclamationmark.triangle.fill", "alert-triangle-filled"},
    {"exclamationmark.triangle", "alert-triangle"},
    {"iphone.gen3", "device-mobile"},
    {"plus", "plus"},
    {"rectangle.portrait.and.arrow.right", "logout"},
    {"person", "user"},
    {"chevron.up.chevron.down", "selector"},
    {"chevron.down", "chevron-down"},
    {"chevron.right", "chevron-right"},
    {"eye", "eye"},
    {"eye.off", "eye-off"},
    {"folder", "folder"},
    {"trash", "trash"},
    {"arrow.clockwise", "reload"},
    {"info.circle", "info-circle"},
    {"arrow.up.right.square", "external-link"},
    {"doc.on.doc", "copy"},
    {"clock", "clock"},
    {"arrow.down.to.line", "arrow-bar-to-down"},
    {"key", "key"},
    {"sparkles", "sparkles"},
    {"menu", "menu-2"},
    {"power", "power"},
};

// A '#' would start the URL's fragment, so the colour comes without it.
QColor parseColour(const QString& hex)
{
    if (hex.size() != 6 && hex.size() != 8)
        return {};
    return QColor(QLatin1Char('#') + hex);
}

// QML often sets one side only (sourceSize.width alone): the other then follows the aspect ratio.
QSize fit(const QSize& natural, QSize requested, const QSize& whenNone)
{
    if (requested.width() <= 0 && requested.height() <= 0)
        requested = whenNone;
    constexpr int unbounded = 1 << 16;
    return natural.scaled(requested.width() > 0 ? requested.width() : unbounded,
                          requested.height() > 0 ? requested.height() : unbounded, Qt::KeepAspectRatio);
}

QImage renderSymbol(const QString& symbol, const QColor& colour, const QSize& requested)
{
    const QString resource = iconResource(symbol);
    QFile file(resource);
    if (resource.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    // SVG Tiny knows no alpha in colours: the SVG gets the opaque colour, the alpha comes after.
    QByteArray svg = file.readAll();
    svg.replace("currentColor", colour.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(svg);
    const QSize size = fit(renderer.defaultSize(), requested, QSize(16, 16));
    if (!renderer.isValid() || size.isEmpty())
        return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    renderer.render(&painter);
    // Scaling the finished image, not painting with opacity, keeps crossing strokes even.
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.fillRect(image.rect(), QColor(0, 0, 0, colour.alpha()));
    return image;
}

QImage renderTemplate(const QString& path, const QColor& colour, const QSize& requested)
{
    QImage image(path);
    if (image.isNull())
        return {};
    const QSize size = fit(image.size(), requested, image.size());
    if (size.isEmpty())
        return {};
    image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // A template's own colours do not count: SourceIn keeps its alpha and takes colour and alpha from the fill.
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
    return image;
}

} // namespace

QString iconResource(const QString& symbol)
{
    for (const auto& [name, file] : table)
        if (symbol == QLatin1String(name))
            return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(file));
    return {};
}

QStringList iconSymbols()
{
    QStringList symbols;
    for (const auto& entry : table)
        symbols.append(QLatin1String(entry.first));
    return symbols;
}

IconProvider::IconProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

QImage IconProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize)
{
    // "<colour>/<kind>/<rest>": the rest may hold further slashes (a file's absolute path).
    const qsizetype first = id.indexOf(QLatin1Char('/'));
    const qsizetype second = first < 0 ? -1 : id.indexOf(QLatin1Char('/'), first + 1);
    const QColor colour = parseColour(id.left(first));
    QImage image;
    if (second > 0 && colour.isValid()) {
        const QStringView kind = QStringView(id).mid(first + 1, second - first - 1);
        if (kind == u"symbol")
            image = renderSymbol(id.mid(second + 1), colour, requestedSize);
        else if (kind == u"file")
            // The path keeps the slash after "file", so ".../file/home/..." and ".../file//home/..."
            // both name "/home/...". QML hands over the id as a URL shows it: spaces and letters
            // decoded, '%' still encoded.
            image = renderTemplate(QDir::cleanPath(QUrl::fromPercentEncoding(id.mid(second).toUtf8())), colour,
                                   requestedSize);
    }
    if (size)
        *size = image.size();
    return image;
}

} // namespace telmora

#pragma once

#include <QImage>
#include <QQuickImageProvider>
#include <QString>
#include <QStringList>

namespace telmora {

// The one table from a symbol name of the design to a bundled SVG (":/icons/<file>.svg").
[[nodiscard]] QString iconResource(const QString& symbol); // empty when unknown
[[nodiscard]] QStringList iconSymbols();                    // every symbol of the table

// Serves tinted images to QML: "image://tint/<colour>/symbol/<symbol>" draws the symbol's SVG with
// currentColor replaced by <colour>; "image://tint/<colour>/file/<absolute path of a PNG>" draws that PNG
// as a template (its alpha channel, filled with <colour>); "file" + the path without a slash between works
// too. <colour> is hex without '#': RRGGBB or AARRGGBB.
// Rendered at the requested size (default 16x16 for SVG, natural size for PNG), keeping the aspect ratio;
// a missing file or unknown symbol gives a null image, so the QML Image reports an error and its
// fallback shows.
class IconProvider : public QQuickImageProvider {
public:
    IconProvider();
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

} // namespace telmora

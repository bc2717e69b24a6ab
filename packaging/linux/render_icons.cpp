// Renders the application logo (SVG) to the PNG sizes of the hicolor icon theme, so the
// desktop's menus and docks get a sharp icon at every size without a scaler of their own.
//   render_icons LOGO.svg OUTPUT_FOLDER SIZE...
// writes OUTPUT_FOLDER/<size>x<size>/apps/app.telmora.Telmora.png.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: render_icons LOGO.svg OUTPUT_FOLDER SIZE...\n");
        return 2;
    }
    QSvgRenderer logo(args[1]);
    if (!logo.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    for (const QString& sizeText : args.mid(3)) {
        const int size = sizeText.toInt();
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        logo.render(&painter);
        painter.end();
        const QString folder = QDir(args[2]).filePath(QStringLiteral("%1x%1/apps").arg(size));
        if (!QDir().mkpath(folder) || !image.save(QDir(folder).filePath(QStringLiteral("app.telmora.Telmora.png")))) {
            std::fprintf(stderr, "cannot write the %d px icon\n", size);
            return 1;
        }
    }
    return 0;
}

#include "platform/platform.h"
#include "store/store.h"

#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QtQml/qqml.h>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace {

const QUrl mainQml(QStringLiteral("qrc:/qt/qml/Telmora/qml/Main.qml"));

// Compiles every QML file of the interface; a broken file fails CI instead of a user.
int selfTest(QQmlEngine& engine)
{
    int failures = 0;
    int checked = 0;
    QDirIterator files(QStringLiteral(":/qt/qml/Telmora/qml"), {QStringLiteral("*.qml")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile source(path);
        if (source.open(QIODevice::ReadOnly) && source.readAll().contains("pragma Singleton"))
            continue; // singletons are compiled through the files that use them
        QQmlComponent component(&engine, QUrl(QStringLiteral("qrc") + path));
        ++checked;
        if (component.isError()) {
            ++failures;
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        }
    }
    std::printf("self-test: %d QML files, %d broken\n", checked, failures);
    return failures == 0 && checked > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    telmora::platform::prepareProcess();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Telmora"));
    QGuiApplication::setOrganizationName(QStringLiteral("Telmora"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    const QStringList arguments = app.arguments();
    telmora::StoreOptions options = telmora::StoreOptions::system();
    // The self-test only compiles QML: it must not start the tools.
    options.autoStart = !arguments.contains(QStringLiteral("--self-test"));
    telmora::Store store(options);
    // The one Store, published as a singleton: every screen gets this instance.
    qmlRegisterSingletonInstance("Telmora.Model", 1, 0, "Store", &store);
    if (qEnvironmentVariableIsSet("TELMORA_DEMO"))
        store.setNotice(QStringLiteral("Демо-режим: вместо App Store и iPhone работают их имитации, настоящие аккаунты и файлы не затрагиваются."));

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    if (arguments.contains(QStringLiteral("--self-test")))
        return selfTest(engine);

    QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &app,
                     [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(mainQml);

    // --screenshot FILE: draw the window once, save it and quit (used to check screens offscreen).
    const qsizetype shot = arguments.indexOf(QStringLiteral("--screenshot"));
    if (shot >= 0 && shot + 1 < arguments.size() && !engine.rootObjects().isEmpty()) {
        auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
        const QString target = arguments.at(shot + 1);
        QTimer::singleShot(1500, window, [window, target] {
            const bool saved = window->grabWindow().save(target);
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}

#include "platform/platform.h"
#include "store/doctor.h"
#include "store/store.h"
#include "ui/interface.h"
#include "ui/windowdriver.h"

#include <QCommandLineParser>
#include <QCoroTask>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/QQmlExtensionPlugin>

#include <algorithm>
#include <cstdio>
#include <cstring>

Q_IMPORT_QML_PLUGIN(TelmoraPlugin)

namespace {

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

// --startup-probe: prints "frame" when the first frame is on screen, then the resident memory
// once the window has settled, and quits (read by bench/startup).
void probeStartup(QQuickWindow* window)
{
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [] {
        static bool first = true;
        if (!first)
            return;
        first = false;
        std::printf("frame\n");
        std::fflush(stdout);
        QTimer::singleShot(2000, [] {
            QFile status(QStringLiteral("/proc/self/status"));
            status.open(QIODevice::ReadOnly);
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("VmRSS:"))
                    std::printf("rss %s\n", line.mid(6).simplified().constData());
            }
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    });
}

// --doctor: checks the tools a real run needs without opening a window, so it also
// works over SSH or before the desktop is set up. Exit 0 only when all is there.
int doctor(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Telmora"));
    telmora::StoreOptions options = telmora::StoreOptions::system();
    options.autoStart = false;
    const telmora::Store store(options);
    const telmora::Diagnosis diagnosis = QCoro::waitFor(telmora::diagnose(store.sessionFolder(), store.downloadsFolder()));
    std::fputs(diagnosis.text().toUtf8().constData(), stdout);
    return diagnosis.ready() ? 0 : 1;
}

bool asksForDoctor(int argc, char* argv[])
{
    return std::any_of(argv + 1, argv + argc, [](const char* arg) { return std::strcmp(arg, "--doctor") == 0; });
}

} // namespace

int main(int argc, char* argv[])
{
    telmora::platform::prepareProcess();
    if (asksForDoctor(argc, argv))
        return doctor(argc, argv);
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Telmora"));
    QGuiApplication::setOrganizationName(QStringLiteral("Telmora"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    QCommandLineParser parser;
    parser.addHelpOption();
    // Handled before the window's application exists; listed so --help shows it.
    const QCommandLineOption doctorOption(QStringLiteral("doctor"), QStringLiteral("Check the tools a real iPhone and Apple account need, and quit."));
    const QCommandLineOption selfTestOption(QStringLiteral("self-test"), QStringLiteral("Compile every QML file and quit."));
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"), QStringLiteral("Save the window to FILE and quit."),
                                              QStringLiteral("FILE"));
    const QCommandLineOption appearanceOption(QStringLiteral("appearance"), QStringLiteral("Force the light or dark appearance."),
                                              QStringLiteral("light|dark"));
    const QCommandLineOption probeOption(QStringLiteral("startup-probe"), QStringLiteral("Report the first frame and memory, then quit."));
    const QCommandLineOption driveOption(QStringLiteral("drive"), QStringLiteral("Obey window commands on the local socket NAME (end-to-end tests)."),
                                         QStringLiteral("NAME"));
    parser.addOptions({doctorOption, selfTestOption, screenshotOption, appearanceOption, probeOption, driveOption});
    parser.process(app);

    std::optional<bool> forcedDark;
    if (parser.isSet(appearanceOption))
        forcedDark = parser.value(appearanceOption) == u"dark";

    telmora::StoreOptions options = telmora::StoreOptions::system();
    // The self-test only compiles QML: it must not start the tools.
    options.autoStart = !parser.isSet(selfTestOption);
    telmora::Store store(options);
    telmora::Interface interface(store, options.resourcesFolder, forcedDark);
    if (qEnvironmentVariableIsSet("TELMORA_DEMO"))
        store.setNotice(QStringLiteral("Демо-режим: вместо App Store и iPhone работают их имитации, настоящие аккаунты и файлы не затрагиваются."));

    QQmlApplicationEngine engine;
    interface.prepare(engine);
    if (parser.isSet(selfTestOption))
        return selfTest(engine);

    QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &app,
                     [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(telmora::Interface::mainQml());
    auto* window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
    if (!window)
        return 1;

    if (parser.isSet(probeOption))
        probeStartup(window);
    // --drive NAME: a driver that cannot listen would leave its test waiting, so the app does not start.
    std::optional<telmora::WindowDriver> driver;
    if (parser.isSet(driveOption)) {
        driver.emplace(window);
        if (!driver->listen(parser.value(driveOption))) {
            std::fprintf(stderr, "cannot listen on %s: %s\n", qPrintable(parser.value(driveOption)), qPrintable(driver->errorString()));
            return 1;
        }
    }
    // --screenshot FILE: draw the window once, save it and quit (used to check screens offscreen).
    if (parser.isSet(screenshotOption)) {
        const QString target = parser.value(screenshotOption);
        QTimer::singleShot(1500, window, [window, target] {
            const bool saved = window->grabWindow().save(target);
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}

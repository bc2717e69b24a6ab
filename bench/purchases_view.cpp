// The purchases screen showing 10,000 purchases, offscreen with the software renderer, in one
// process: the first frame of the list, the frame after each filter keystroke, the frames of a
// scroll through the whole list, and the frame after a download's progress changes.
// Every figure runs from the change to the swap of the first frame that shows it.
//
//   purchases_view          scroll 120 px per frame
//   purchases_view PIXELS   scroll that many pixels per frame
//
// Targets: a keystroke under 16 ms (median and worst); scrolling p99 under 16 ms.
//
// App details and artwork come from a local web server on its own thread, answering like the
// store's lookup service: every app the rows ask about gets a seller, version and price and a
// 100×100 icon. The last line says how many were asked for.

#include "store/store.h"
#include "ui/applistmodel.h"
#include "ui/interface.h"

#include "httpserver.h"
#include "storeaccess.h"
#include "sandbox.h"

#include <QBuffer>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QMutex>
#include <QPainter>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickView>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QtQml/QQmlExtensionPlugin>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>

Q_IMPORT_QML_PLUGIN(TelmoraPlugin)

using namespace telmora;

namespace {

constexpr int purchaseCount = 10000;
constexpr int defaultScrollStep = 120;
constexpr int historyRounds = 5;
constexpr int progressTicks = 10;
constexpr int frameTimeoutMs = 10000;
constexpr int keystrokePauseMs = 120; // a fast typist's pace; lets deferred work run as it would
constexpr double frameBudgetMs = 16;
const QSize windowSize(1120, 720);

const char* const words[] = {"Photo", "Notes", "Maps", "Fitness", "Мессенджер", "Banking", "Weather", "Camera",
                             "Погода", "Music", "Reader", "Scanner", "Editor", "Calendar", "Translate", "Games",
                             "Puzzle", "Radio", "Почта", "Planner", "Такси", "Книги", "Словарь", "Фото"};
const char* const suffixes[] = {"", "", "", "Pro", "Lite", "HD", "2", "для детей"};

// The history as the Store shows it: dates in the parser's form, newest first.
QList<AppItem> generatedPurchases()
{
    QRandomGenerator random(20261206);
    QList<AppItem> items;
    items.reserve(purchaseCount);
    for (int i = 0; i < purchaseCount; ++i) {
        AppItem item;
        item.id = QString::number(300000000 + i);
        item.name = QStringLiteral("%1 %2 %3")
                        .arg(QString::fromUtf8(words[random.bounded(static_cast<int>(std::size(words)))]),
                             QString::fromUtf8(words[random.bounded(static_cast<int>(std::size(words)))]),
                             QString::fromUtf8(suffixes[random.bounded(static_cast<int>(std::size(suffixes)))]))
                        .trimmed();
        item.kind = i % 50 == 0 ? QStringLiteral("Mac App") : QStringLiteral("iOS App");
        item.purchaseDate = QDate(2010, 1, 1).addDays(random.bounded(16 * 365)).toString(QStringLiteral("dd.MM.yyyy"));
        items.append(item);
    }
    return mergePurchases({}, items, false);
}

QByteArray artworkPng()
{
    QImage image(100, 100, QImage::Format_ARGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 100, 100);
    gradient.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
    gradient.setColorAt(1, QColor(0xf0, 0x8a, 0x4b));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// The store's lookup service and its artwork host, served from a thread of their own so the
// interface thread does only the client's share of the work.
class LocalStoreService {
public:
    LocalStoreService()
    {
        m_thread.start();
        m_anchor.moveToThread(&m_thread);
        QMetaObject::invokeMethod(&m_anchor, [this] { start(); }, Qt::BlockingQueuedConnection);
    }
    ~LocalStoreService()
    {
        QMetaObject::invokeMethod(&m_anchor, [this] { m_server.reset(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    LocalStoreService(const LocalStoreService&) = delete;
    LocalStoreService& operator=(const LocalStoreService&) = delete;

    [[nodiscard]] QUrl lookupURL() const { return m_server->url(QStringLiteral("/lookup")); }
    [[nodiscard]] int requestCount(const QString& path) const
    {
        int count = 0;
        QMetaObject::invokeMethod(&m_anchor, [&] { count = m_server->requestCount(path); }, Qt::BlockingQueuedConnection);
        return count;
    }
    // Ids the lookups asked for, repeats included.
    [[nodiscard]] int appsDescribed() const { return m_appsDescribed; }

private:
    void start()
    {
        m_server = std::make_unique<test::HttpServer>();
        m_server->handle(QStringLiteral("/lookup"), [this](const test::HttpServer::Request& request) { return lookup(request); });
        m_server->route(QStringLiteral("/artwork.png"), {.body = artworkPng(), .headers = {{"Content-Type", "image/png"}}});
    }

    test::HttpServer::Response lookup(const test::HttpServer::Request& request)
    {
        const QStringList ids = QUrlQuery(request.query).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded).split(u',');
        m_appsDescribed += static_cast<int>(ids.size());
        QJsonArray results;
        for (const QString& id : ids) {
            results.append(QJsonObject{
                {QStringLiteral("trackId"), id.toLongLong()},
                {QStringLiteral("sellerName"), QStringLiteral("Студия Северный ветер")},
                {QStringLiteral("version"), QStringLiteral("4.12.1")},
                {QStringLiteral("minimumOsVersion"), QStringLiteral("15.0")},
                {QStringLiteral("formattedPrice"), QStringLiteral("Бесплатно")},
                {QStringLiteral("artworkUrl100"), m_server->url(QStringLiteral("/artwork.png?id=") + id).toString()},
            });
        }
        const QJsonObject answer{{QStringLiteral("resultCount"), results.size()}, {QStringLiteral("results"), results}};
        return {.body = QJsonDocument(answer).toJson(QJsonDocument::Compact),
                .headers = {{"Content-Type", "text/javascript; charset=utf-8"}}};
    }

    QThread m_thread;
    mutable QObject m_anchor;
    std::unique_ptr<test::HttpServer> m_server;
    std::atomic<int> m_appsDescribed = 0;
};

double threadCPUms()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Sample {
    double wallMs = 0;
    double cpuMs = 0; // the interface thread's processor time over the same span
};

// Counts the frames a window swaps and when, on whichever thread swaps them.
class FrameClock : public QObject {
public:
    explicit FrameClock(QQuickWindow& window)
        : m_window(window)
    {
        m_clock.start();
        m_wake.setSingleShot(true);
        connect(&window, &QQuickWindow::frameSwapped, this, [this] { recordSwap(); }, Qt::DirectConnection);
    }

    [[nodiscard]] int frames() const
    {
        QMutexLocker lock(&m_mutex);
        return static_cast<int>(m_swaps.size());
    }
    [[nodiscard]] bool swapsOnInterfaceThread() const { return m_swapsOnInterfaceThread; }

    // Runs the interface thread's events until `done` holds; false after the time-out.
    bool waitUntil(const std::function<bool()>& done)
    {
        const QDeadlineTimer deadline(frameTimeoutMs);
        m_wake.start(frameTimeoutMs); // so a wait with nothing happening still ends
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        m_wake.stop();
        return done();
    }

    // Runs `change`, asks for a frame, and times until the first frame swapped after it.
    // `settled` (when given) holds once deferred work the change started has been done.
    std::optional<Sample> timeToFrame(const std::function<void()>& change, const std::function<bool()>& settled = {})
    {
        const int before = frames();
        const qint64 start = m_clock.nsecsElapsed();
        const double cpuStart = threadCPUms();
        change();
        int seen = before;
        if (settled) {
            if (!waitUntil(settled))
                return std::nullopt;
            seen = frames(); // a frame swapped before the deferred work cannot show it
        }
        m_window.update();
        if (!waitUntil([&] { return frames() > seen; }))
            return std::nullopt;
        const double cpu = threadCPUms() - cpuStart;
        QMutexLocker lock(&m_mutex);
        return Sample{static_cast<double>(m_swaps.at(seen) - start) / 1e6, cpu};
    }

private:
    void recordSwap()
    {
        {
            QMutexLocker lock(&m_mutex);
            m_swaps.append(m_clock.nsecsElapsed());
        }
        m_swapsOnInterfaceThread = QThread::currentThread() == thread();
        // Wakes the interface thread if another thread swapped the frame.
        QMetaObject::invokeMethod(this, [] {}, Qt::QueuedConnection);
    }

    QQuickWindow& m_window;
    QElapsedTimer m_clock;
    QTimer m_wake;
    mutable QMutex m_mutex;
    QList<qint64> m_swaps;
    std::atomic<bool> m_swapsOnInterfaceThread = true;
};

struct Figures {
    double median = 0;
    double p99 = 0;
    double worst = 0;
    double cpuMedian = 0;
    int over = 0; // frames over the budget
};

double percentile(const QList<double>& sorted, double fraction)
{
    const auto rank = static_cast<qsizetype>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted.at(std::clamp<qsizetype>(rank - 1, 0, sorted.size() - 1));
}

Figures figuresOf(const QList<Sample>& samples)
{
    QList<double> wall;
    QList<double> cpu;
    for (const Sample& sample : samples) {
        wall.append(sample.wallMs);
        cpu.append(sample.cpuMs);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    const auto over = std::count_if(wall.cbegin(), wall.cend(), [](double ms) { return ms > frameBudgetMs; });
    return {percentile(wall, 0.5), percentile(wall, 0.99), wall.last(), percentile(cpu, 0.5), static_cast<int>(over)};
}

void printFigures(const char* what, const QList<Sample>& samples)
{
    const Figures figures = figuresOf(samples);
    std::printf("%-44s median %7.2f  p99 %7.2f  worst %7.2f ms  (cpu median %6.2f ms)  %lld frames, %d over %.0f ms\n",
                what, figures.median, figures.p99, figures.worst, figures.cpuMedian, static_cast<long long>(samples.size()),
                figures.over, frameBudgetMs);
}

const char* verdict(double ms) { return ms < frameBudgetMs ? "met" : "NOT met"; }

QQuickItem* namedItem(QQuickView& view, const char* name)
{
    auto* item = view.rootObject() ? view.rootObject()->findChild<QQuickItem*>(QString::fromLatin1(name)) : nullptr;
    if (!item)
        std::fprintf(stderr, "no item named %s in the purchases screen\n", name);
    return item;
}

int rowCount(QQuickItem& list) { return list.property("count").toInt(); }

// One key as a keyboard sends it: press and release, with its text.
void pressKey(QQuickWindow& window, int key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QGuiApplication::sendEvent(&window, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QGuiApplication::sendEvent(&window, &release);
}

struct Keystroke {
    QChar letter; // null: backspace
};

// Two common words typed and erased letter by letter: a Cyrillic one, then a Latin one.
QList<Keystroke> typingSequence()
{
    QList<Keystroke> keys;
    for (const QString& word : {QStringLiteral("погода"), QStringLiteral("photo")}) {
        for (QChar letter : word)
            keys.append({letter});
        for (qsizetype i = 0; i < word.size(); ++i)
            keys.append({QChar()});
    }
    return keys;
}

class PurchasesScreenBench {
public:
    PurchasesScreenBench(Store& store, QQmlEngine& engine, const QList<AppItem>& purchases, int scrollStep)
        : m_store(store)
        , m_engine(engine)
        , m_purchases(purchases)
        , m_scrollStep(scrollStep)
    {
    }

    // The steps in order; each needs the state the one before left.
    int run() { return openScreen() && historyArrives() && typeInFilter() && scrollThrough() && tickProgress() ? 0 : 1; }

private:
    bool openScreen();
    bool historyArrives();
    bool typeInFilter();
    bool scrollThrough();
    bool tickProgress();
    bool failed(const char* what)
    {
        std::fprintf(stderr, "no frame (or not the expected state) after: %s\n", what);
        return false;
    }

    Store& m_store;
    QQmlEngine& m_engine;
    const QList<AppItem>& m_purchases;
    int m_scrollStep;
    std::unique_ptr<QQuickView> m_view;
    std::unique_ptr<FrameClock> m_clock;
    QQuickItem* m_list = nullptr;
    AppListModel* m_model = nullptr;
};

// The screen created with the history already in the Store, to the first frame of its list.
bool PurchasesScreenBench::openScreen()
{
    StoreTestAccess::setPurchases(m_store, m_purchases);
    m_view = std::make_unique<QQuickView>(&m_engine, nullptr);
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    m_view->resize(windowSize);
    m_clock = std::make_unique<FrameClock>(*m_view);
    const std::optional<Sample> opened = m_clock->timeToFrame([this] {
        m_view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/Telmora/qml/Views/PurchasesView.qml")));
        m_view->show();
    });
    if (m_view->status() != QQuickView::Ready) {
        for (const QQmlError& error : m_view->errors())
            std::fprintf(stderr, "%s\n", qPrintable(error.toString()));
        return false;
    }
    m_list = namedItem(*m_view, "appList");
    m_model = qobject_cast<AppListModel*>(m_view->rootObject()->property("purchases").value<QObject*>());
    if (!opened || !m_list || !m_model || rowCount(*m_list) != static_cast<int>(m_purchases.size()))
        return failed("opening the screen");
    std::printf("frames swapped on the %s\n", m_clock->swapsOnInterfaceThread() ? "interface thread" : "render thread");
    std::printf("%-44s %7.2f ms (cpu %.2f ms; QML created, first frame)\n", "screen opens, 10,000 purchases known", opened->wallMs,
                opened->cpuMs);
    m_view->requestActivate();
    if (!QTest::qWaitForWindowActive(m_view.get()))
        return failed("activating the window");
    QTest::qWait(500);
    return true;
}

// The history arriving while the screen shows its empty state, as the first load ends.
bool PurchasesScreenBench::historyArrives()
{
    QList<Sample> samples;
    for (int round = 0; round < historyRounds; ++round) {
        if (!m_clock->timeToFrame([this] { StoreTestAccess::setPurchases(m_store, {}); }))
            return failed("emptying the history");
        QTest::qWait(300);
        const std::optional<Sample> arrived = m_clock->timeToFrame([this] { StoreTestAccess::setPurchases(m_store, m_purchases); });
        if (!arrived || rowCount(*m_list) != static_cast<int>(m_purchases.size()))
            return failed("the history arriving");
        samples.append(*arrived);
        QTest::qWait(300);
    }
    printFigures("history of 10,000 arrives, to its first frame", samples);
    return true;
}

bool PurchasesScreenBench::typeInFilter()
{
    QQuickItem* filter = namedItem(*m_view, "purchasesFilter");
    if (!filter)
        return false;
    filter->forceActiveFocus();
    QTest::qWait(keystrokePauseMs);
    QList<Sample> samples;
    QString typed;
    for (const Keystroke& keystroke : typingSequence()) {
        const bool erase = keystroke.letter.isNull();
        typed = erase ? typed.chopped(1) : typed + keystroke.letter;
        const std::optional<Sample> sample = m_clock->timeToFrame([&] {
            if (erase)
                pressKey(*m_view, Qt::Key_Backspace, QStringLiteral("\b"));
            else
                pressKey(*m_view, keystroke.letter.toUpper().unicode(), QString(keystroke.letter));
        });
        if (!sample || filter->property("text").toString() != typed)
            return failed("a keystroke in the filter");
        const QString key = erase ? QStringLiteral("backspace") : QString(keystroke.letter);
        std::printf("  %s filter %s %5d rows  %6.2f ms  (cpu %5.2f ms)\n", qPrintable(key.leftJustified(9)),
                    qPrintable((u'"' + typed + u'"').leftJustified(8)), rowCount(*m_list), sample->wallMs, sample->cpuMs);
        samples.append(*sample);
        QTest::qWait(keystrokePauseMs);
    }
    printFigures("filter keystroke, to its frame", samples);
    const Figures figures = figuresOf(samples);
    std::printf("%-44s median %.2f ms %s, worst %.2f ms %s (target < %.0f ms)\n", "filter keystroke", figures.median,
                verdict(figures.median), figures.worst, verdict(figures.worst), frameBudgetMs);
    return true;
}

// From the top to the bottom of the whole list, one step per frame, without pauses.
bool PurchasesScreenBench::scrollThrough()
{
    QMetaObject::invokeMethod(m_list, "positionViewAtBeginning");
    QTest::qWait(300);
    const auto bottom = [this] {
        return m_list->property("originY").toDouble() + m_list->property("contentHeight").toDouble()
             + m_list->property("bottomMargin").toDouble() - m_list->height();
    };
    QList<Sample> samples;
    QElapsedTimer whole;
    whole.start();
    for (double y = m_list->property("contentY").toDouble(); y < bottom() - 0.5;) {
        y = std::min(y + m_scrollStep, bottom());
        const std::optional<Sample> sample = m_clock->timeToFrame([&] { m_list->setProperty("contentY", y); });
        if (!sample)
            return failed("a scroll step");
        samples.append(*sample);
    }
    const double seconds = static_cast<double>(whole.elapsed()) / 1e3;
    std::printf("scrolled %.0f px in %lld steps of %d px, %.1f s\n", bottom(), static_cast<long long>(samples.size()),
                m_scrollStep, seconds);
    printFigures("scroll step, to its frame", samples);
    const double p99 = figuresOf(samples).p99;
    std::printf("%-44s p99 %.2f ms %s (target < %.0f ms)\n", "scrolling", p99, verdict(p99), frameBudgetMs);
    return true;
}

// A download of the last row's app runs: every progress tick re-evaluates the situation of
// every row the list has shown so far, then draws the visible ones.
bool PurchasesScreenBench::tickProgress()
{
    int refreshes = 0;
    QObject::connect(m_model, &QAbstractItemModel::dataChanged, m_model,
                     [&refreshes](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                         if (roles.contains(AppListModel::SituationRole))
                             ++refreshes;
                     });
    Job job;
    job.app = m_purchases.last();
    job.state = JobState::running();
    QList<Sample> samples;
    for (int tick = 0; tick <= progressTicks; ++tick) {
        job.fraction = static_cast<double>(tick) / (progressTicks + 1);
        const int before = refreshes;
        const std::optional<Sample> sample = m_clock->timeToFrame([&] { StoreTestAccess::setJobs(m_store, {job}); },
                                                                   [&] { return refreshes > before; });
        if (!sample)
            return failed("a progress tick");
        if (tick == 0)
            std::printf("%-44s %7.2f ms (cpu %.2f ms)\n", "download starts: situations refreshed, frame", sample->wallMs, sample->cpuMs);
        else
            samples.append(*sample);
        QTest::qWait(250);
    }
    printFigures("progress tick: situations refreshed, frame", samples);
    StoreTestAccess::setJobs(m_store, {});
    return true;
}

std::optional<int> scrollStepFrom(int argc, char** argv)
{
    if (argc < 2)
        return defaultScrollStep;
    bool ok = false;
    const int step = QString::fromLocal8Bit(argv[1]).toInt(&ok);
    return ok && step > 0 ? std::optional<int>(step) : std::nullopt;
}

// Offscreen, software renderer. The render loop and the platform's pause before an update
// may be chosen from outside. By default a frame is drawn on the interface thread as soon as
// it is asked for, so a figure is the work of its frame: the threaded software loop paces
// frames to the display rate (about 16 ms each), and the platform waits 5 ms before an
// update unless told otherwise, and either would measure the pacing instead.
void chooseRendering()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    if (!qEnvironmentVariableIsSet("QSG_RENDER_LOOP"))
        qputenv("QSG_RENDER_LOOP", "basic");
    if (!qEnvironmentVariableIsSet("QT_QPA_UPDATE_IDLE_TIME"))
        qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");
}

// The only web service is the local one: no proxy may stand in between.
void connectDirectly()
{
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
        qunsetenv(name);
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<int> scrollStep = scrollStepFrom(argc, argv);
    if (!scrollStep) {
        std::fprintf(stderr, "usage: %s [SCROLL_PIXELS]\n", argv[0]);
        return 2;
    }
    const test::Sandbox home; // also selects the simulated tools: no real tool is ever found
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    chooseRendering();
    connectDirectly();

    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    std::printf("purchases screen, %d purchases, window %d×%d, offscreen, software renderer, render loop %s, "
                "update pause %s ms\n",
                purchaseCount, windowSize.width(), windowSize.height(), qgetenv("QSG_RENDER_LOOP").constData(),
                qgetenv("QT_QPA_UPDATE_IDLE_TIME").constData());

    const LocalStoreService service;
    StoreOptions options;
    options.resourcesFolder = QStringLiteral(TELMORA_SOURCE_DIR "/resources");
    options.lookupURL = service.lookupURL();
    options.autoStart = false;
    Store store(options);
    StoreTestAccess::setEmail(store, QStringLiteral("bench@example.com"));
    Interface interface(store, options.resourcesFolder);
    QQmlEngine engine;
    interface.prepare(engine);

    const QList<AppItem> purchases = generatedPurchases();
    const int status = PurchasesScreenBench(store, engine, purchases, *scrollStep).run();
    std::printf("local store service: %d lookups describing %d apps, %d icons served\n",
                service.requestCount(QStringLiteral("/lookup")), service.appsDescribed(),
                service.requestCount(QStringLiteral("/artwork.png")));
    return status;
}

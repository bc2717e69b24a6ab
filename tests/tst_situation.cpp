// The main button of an app: every rule of the decision, in its order of precedence.
#include "store/store.h"

#include "storeaccess.h"
#include "sandbox.h"

#include <QtTest>

#include <functional>
#include <memory>

using namespace telmora;
using telmora::test::Sandbox;

using Setup = std::function<void(Store&)>;
Q_DECLARE_METATYPE(Setup)

namespace {

const QString appID = QStringLiteral("1001");
const QString fileURL = QStringLiteral("/downloads/Notes_1.0_iOS_16.0+_a@b.c.ipa");

AppItem app() { return AppItem{appID, QStringLiteral("Notes"), {}, {}, {}, {}}; }

Job job(const Job::State& state, std::optional<double> fraction = {}, std::optional<QString> detail = {})
{
    Job made;
    made.app = app();
    made.state = state;
    made.fraction = fraction;
    made.detail = detail;
    return made;
}

// A stored file of the app; `minOS` absent means its metadata could not be read.
IPAFile stored(const std::optional<QString>& minOS = QStringLiteral("15.0"))
{
    IPAFile file;
    file.url = fileURL;
    if (minOS)
        file.info = IPAInfo{QStringLiteral("Notes"), QStringLiteral("1.0"), *minOS, QStringLiteral("iOS")};
    file.size = 1000;
    file.modified = QDateTime::currentDateTimeUtc();
    file.appID = appID;
    return file;
}

AppDetails detailsWithMinOS(const QString& minOS)
{
    AppDetails details;
    details.minOS = minOS;
    return details;
}

QString describe(const AppSituation& s)
{
    auto text = [](const std::optional<QString>& value) { return value ? QLatin1Char('"') + *value + QLatin1Char('"') : QStringLiteral("-"); };
    QString action = QStringLiteral("-");
    if (s.action)
        action = QString::number(static_cast<int>(s.action->kind)) + QLatin1Char(':') + s.action->file
                 + QLatin1Char(':') + s.action->job.id.toString();
    return QStringLiteral("active=%1 fraction=%2 mark=%3 status=%4 note=%5 error=%6 action=%7 title=\"%8\" short=%9 plain=%10")
        .arg(s.active)
        .arg(s.fraction ? QString::number(*s.fraction) : QStringLiteral("-"))
        .arg(text(s.mark), text(s.status), text(s.note), text(s.error), action, s.title, text(s.shortTitle))
        .arg(s.isPlain);
}

} // namespace

class SituationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_store = std::make_unique<Store>(StoreOptions{.resourcesFolder = QStringLiteral(TELMORA_SOURCE_DIR "/resources"), .autoStart = false});
    }

    void cleanup()
    {
        m_store.reset();
        m_sandbox.reset();
    }

    void rules_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<AppSituation>("expected");

        using Action = AppSituation::Action;
        using State = Job::State;
        auto files = [](const QList<IPAFile>& list) { return Setup([list](Store& s) { StoreTestAccess::setFiles(s, list); }); };
        auto jobs = [](const QList<Job>& list) { return Setup([list](Store& s) { StoreTestAccess::setJobs(s, list); }); };
        auto all = [](const QList<Setup>& steps) { return Setup([steps](Store& s) { for (const Setup& step : steps) step(s); }); };
        auto device = [](const QString& version) { return Setup([version](Store& s) { StoreTestAccess::connectDevice(s, version); }); };
        auto details = [](const QString& minOS) { return Setup([minOS](Store& s) { StoreTestAccess::setDetail(s, appID, detailsWithMinOS(minOS)); }); };

        const Job waiting = job(State::waiting());
        const Job failed = job(State::failed(QStringLiteral("Это приложение не приобреталось на этом аккаунте.")));
        const Job preparing = job(State::running());
        const Job almost = job(State::running(), 0.999, QStringLiteral("3.2 MB/s"));
        const Job binaryFraction = job(State::running(), 0.29);
        const Job sized = job(State::running(), std::nullopt, QStringLiteral("12,3 МБ"));

        auto cancelling = [](const Job& j, double fraction, const QString& status) {
            AppSituation s;
            s.active = true;
            s.fraction = fraction;
            s.status = status;
            s.action = Action::cancel(j);
            s.title = QStringLiteral("Отмена");
            s.isPlain = true;
            return s;
        };
        auto plainAction = [](const Action& action, const QString& title, const std::optional<QString>& mark = {},
                              const std::optional<QString>& shortTitle = {}) {
            AppSituation s;
            s.action = action;
            s.title = title;
            s.mark = mark;
            s.shortTitle = shortTitle;
            return s;
        };
        const QString check = QStringLiteral("checkmark");
        const QString alert = QStringLiteral("exclamationmark");

        QTest::newRow("waiting job beats a stored file")
            << all({files({stored()}), jobs({waiting})}) << cancelling(waiting, 0, QStringLiteral("В очереди"));
        QTest::newRow("running, nothing reported") << jobs({preparing}) << cancelling(preparing, 0, QStringLiteral("Подготовка…"));
        QTest::newRow("running, percentage truncated") << jobs({almost}) << cancelling(almost, 0.999, QStringLiteral("99%"));
        QTest::newRow("running, 0.29 is 29%") << jobs({binaryFraction}) << cancelling(binaryFraction, 0.29, QStringLiteral("29%"));
        QTest::newRow("running, size only") << jobs({sized}) << cancelling(sized, 0, QStringLiteral("12,3 МБ"));
        QTest::newRow("newest job decides") << jobs({preparing, failed}) << cancelling(preparing, 0, QStringLiteral("Подготовка…"));

        {
            AppSituation s;
            s.active = true;
            s.fraction = 0.6;
            s.status = QStringLiteral("Установка: 60%");
            QTest::newRow("installing this file")
                << all({files({stored()}), [](Store& st) {
                            StoreTestAccess::setInstalling(st, fileURL);
                            StoreTestAccess::setInstallFraction(st, 0.6);
                            StoreTestAccess::setInstallStatus(st, QStringLiteral("Установка: 60%"));
                        }})
                << s;
        }
        {
            AppSituation s;
            s.active = true;
            s.fraction = 0;
            QTest::newRow("installing, nothing reported")
                << all({files({stored()}), [](Store& st) { StoreTestAccess::setInstalling(st, fileURL); }}) << s;
        }
        {
            AppSituation s;
            s.active = true;
            s.fraction = 0;
            s.status = QStringLiteral("Ждёт установки");
            QTest::newRow("queued for installation")
                << all({files({stored()}), [](Store& st) { StoreTestAccess::setInstallQueue(st, {QStringLiteral("/other.ipa"), fileURL}); }})
                << s;
        }
        {
            const QString message = QStringLiteral("Удалите приложение с iPhone, перезагрузите его и попробуйте снова.");
            auto installError = [message](Store& st) { StoreTestAccess::setInstallErrors(st, {{fileURL, message}}); };
            AppSituation retryInstall = plainAction(Action::install(fileURL), QStringLiteral("Установить"), alert);
            retryInstall.error = message;
            QTest::newRow("install error, even after a failed job")
                << all({files({stored()}), jobs({failed}), installError, device(QStringLiteral("17.0"))}) << retryInstall;
            AppSituation tooOld = plainAction(Action::chooseVersion(), QStringLiteral("Выбрать версию"), alert, QStringLiteral("Версии"));
            tooOld.error = message;
            QTest::newRow("install error on a too old iPhone")
                << all({files({stored(QStringLiteral("16.0"))}), installError, device(QStringLiteral("15.7"))}) << tooOld;
        }
        {
            AppSituation s = plainAction(Action::retry(failed), QStringLiteral("Повторить"), alert);
            s.error = failed.state.payload;
            QTest::newRow("failed job") << jobs({failed}) << s;
            QTest::newRow("failed job beats a stored file") << all({files({stored()}), jobs({failed})}) << s;
        }
        {
            AppSituation s = plainAction(Action::chooseVersion(), QStringLiteral("Выбрать версию"), check, QStringLiteral("Версии"));
            s.note = QStringLiteral("Нужна iOS 16.0, а на iPhone 15.7");
            QTest::newRow("stored file needs a newer iOS") << all({files({stored(QStringLiteral("16.0"))}), device(QStringLiteral("15.7"))}) << s;
            QTest::newRow("file requirement wins over details")
                << all({files({stored(QStringLiteral("16.0"))}), details(QStringLiteral("14.0")), device(QStringLiteral("15.7"))}) << s;
        }
        QTest::newRow("too old needs a ready device")
            << files({stored(QStringLiteral("16.0"))}) << plainAction(Action::install(fileURL), QStringLiteral("Установить"), check);
        {
            AppSituation s = plainAction(Action::chooseVersion(), QStringLiteral("Выбрать версию"), {}, QStringLiteral("Версии"));
            s.note = QStringLiteral("Нужна iOS 17.2, а на iPhone 16.1");
            QTest::newRow("details say too old, no file") << all({details(QStringLiteral("17.2")), device(QStringLiteral("16.1"))}) << s;
            AppSituation na = s;
            na.mark = check;
            QTest::newRow("NA in the file falls back to details")
                << all({files({stored(QStringLiteral("NA"))}), details(QStringLiteral("17.2")), device(QStringLiteral("16.1"))}) << na;
        }
        QTest::newRow("versions compare as numbers")
            << all({details(QStringLiteral("16.9")), device(QStringLiteral("16.10"))}) << plainAction(Action::get(), QStringLiteral("Установить"));
        QTest::newRow("same version is enough")
            << all({details(QStringLiteral("16.0")), device(QStringLiteral("16.0"))}) << plainAction(Action::get(), QStringLiteral("Установить"));
        QTest::newRow("nothing at all") << Setup([](Store&) {}) << plainAction(Action::get(), QStringLiteral("Скачать"));
        QTest::newRow("nothing but a ready iPhone") << Setup(device(QStringLiteral("17.0"))) << plainAction(Action::get(), QStringLiteral("Установить"));
        QTest::newRow("done job without file") << jobs({job(State::done(QStringLiteral("x.ipa")))}) << plainAction(Action::get(), QStringLiteral("Скачать"));
        QTest::newRow("stored file") << files({stored()}) << plainAction(Action::install(fileURL), QStringLiteral("Установить"), check);
        QTest::newRow("unreadable stored file") << files({stored(std::nullopt)}) << plainAction(Action::install(fileURL), QStringLiteral("Установить"), check);
        QTest::newRow("cancelled job with stored file")
            << all({files({stored()}), jobs({job(State::cancelled())})}) << plainAction(Action::install(fileURL), QStringLiteral("Установить"), check);
        {
            AppSituation s = plainAction(Action::install(fileURL), QStringLiteral("Установить снова"), check, QStringLiteral("Ещё раз"));
            s.isPlain = true;
            QTest::newRow("installed already")
                << all({files({stored()}), [](Store& st) { StoreTestAccess::setInstalled(st, {fileURL}); }}) << s;
        }
        QTest::newRow("file of another app is not ours")
            << files({[] { IPAFile f = stored(); f.appID = QStringLiteral("2002"); return f; }()})
            << plainAction(Action::get(), QStringLiteral("Скачать"));
    }

    void rules()
    {
        QFETCH(Setup, setup);
        QFETCH(AppSituation, expected);
        setup(*m_store);
        const AppSituation actual = m_store->situation(app());
        QVERIFY2(actual == expected, qPrintable(QStringLiteral("\n  actual:   ") + describe(actual) + QStringLiteral("\n  expected: ") + describe(expected)));
        // The QML form carries the same record.
        QCOMPARE(m_store->situationValue(QVariant::fromValue(app())).value<AppSituation>(), actual);
    }

private:
    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
};

QTEST_GUILESS_MAIN(SituationTest)
#include "tst_situation.moc"

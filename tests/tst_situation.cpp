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

QString describe(const AppSituation& s)
{
    const auto text = [](const std::optional<QString>& value) { return value.value_or(QStringLiteral("-")); };
    return QStringLiteral("active=%1 fraction=%2 mark=%3 status=%4 note=%5 error=%6 action=%7:%8 title=%9 short=%10 plain=%11")
        .arg(s.active).arg(s.fraction.value_or(-1))
        .arg(text(s.mark), text(s.status), text(s.note), text(s.error))
        .arg(s.action ? int(s.action->kind) : -1).arg(s.action ? s.action->file : QString(), s.title, text(s.shortTitle))
        .arg(s.isPlain);
}

} // namespace

class SituationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_store = std::make_unique<Store>(test::storeOptions());
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
        auto details = [](const QString& minOS) {
            return Setup([minOS](Store& s) { AppDetails d; d.minOS = minOS; StoreTestAccess::setDetail(s, appID, d); });
        };

        const Job waiting = job(State::waiting());
        const Job failed = job(State::failed(QStringLiteral("Это приложение не приобреталось на этом аккаунте.")));
        const Job preparing = job(State::running());
        const Job almost = job(State::running(), 0.999, QStringLiteral("3.2 MB/s"));
        const Job binaryFraction = job(State::running(), 0.29);
        const Job sized = job(State::running(), std::nullopt, QStringLiteral("12,3 МБ"));
        const auto cancelling = [](const Job& j, double fraction, const char* status) {
            return AppSituation{.active = true, .fraction = fraction, .status = status, .action = Action::cancel(j),
                                .title = QStringLiteral("Отмена"), .isPlain = true};
        };
        const auto plain = [](const Action& action, const char* title, const char* mark = nullptr, const char* shortTitle = nullptr,
                              const char* note = nullptr, const std::optional<QString>& error = {}) {
            const auto text = [](const char* t) { return t ? std::optional(QString::fromUtf8(t)) : std::nullopt; };
            return AppSituation{.mark = text(mark), .note = text(note), .error = error, .action = action,
                                .title = QString::fromUtf8(title), .shortTitle = text(shortTitle)};
        };
        const char* check = "checkmark";
        const char* alert = "exclamationmark";
        const Setup storedFile = files({stored()});
        const Setup tooOldFile = files({stored(QStringLiteral("16.0"))});

        QTest::newRow("waiting job beats a stored file") << all({storedFile, jobs({waiting})}) << cancelling(waiting, 0, "В очереди");
        QTest::newRow("running, nothing reported") << jobs({preparing}) << cancelling(preparing, 0, "Подготовка…");
        QTest::newRow("running, percentage truncated") << jobs({almost}) << cancelling(almost, 0.999, "99%");
        QTest::newRow("running, 0.29 is 29%") << jobs({binaryFraction}) << cancelling(binaryFraction, 0.29, "29%");
        QTest::newRow("running, size only") << jobs({sized}) << cancelling(sized, 0, "12,3 МБ");
        QTest::newRow("newest job decides") << jobs({preparing, failed}) << cancelling(preparing, 0, "Подготовка…");
        QTest::newRow("installing this file") << all({storedFile, [](Store& st) {
                                                         StoreTestAccess::setInstalling(st, fileURL);
                                                         StoreTestAccess::setInstallFraction(st, 0.6);
                                                         StoreTestAccess::setInstallStatus(st, QStringLiteral("Установка: 60%"));
                                                     }})
                                              << AppSituation{.active = true, .fraction = 0.6, .status = "Установка: 60%"};
        QTest::newRow("installing, nothing reported")
            << all({storedFile, [](Store& st) { StoreTestAccess::setInstalling(st, fileURL); }})
            << AppSituation{.active = true, .fraction = 0};
        QTest::newRow("queued for installation")
            << all({storedFile, [](Store& st) { StoreTestAccess::setInstallQueue(st, {QStringLiteral("/other.ipa"), fileURL}); }})
            << AppSituation{.active = true, .fraction = 0, .status = "Ждёт установки"};

        const QString installMessage = QStringLiteral("Удалите приложение с iPhone, перезагрузите его и попробуйте снова.");
        const Setup installError = [installMessage](Store& st) { StoreTestAccess::setInstallErrors(st, {{fileURL, installMessage}}); };
        QTest::newRow("install error, even after a failed job")
            << all({storedFile, jobs({failed}), installError, device(QStringLiteral("17.0"))})
            << plain(Action::install(fileURL), "Установить", alert, nullptr, nullptr, installMessage);
        QTest::newRow("install error on a too old iPhone")
            << all({tooOldFile, installError, device(QStringLiteral("15.7"))})
            << plain(Action::chooseVersion(), "Выбрать версию", alert, "Версии", nullptr, installMessage);
        const AppSituation retry = plain(Action::retry(failed), "Повторить", alert, nullptr, nullptr, failed.state.payload);
        QTest::newRow("failed job") << jobs({failed}) << retry;
        QTest::newRow("failed job beats a stored file") << all({storedFile, jobs({failed})}) << retry;

        const AppSituation fileTooNew = plain(Action::chooseVersion(), "Выбрать версию", check, "Версии", "Нужна iOS 16.0, а на iPhone 15.7");
        QTest::newRow("stored file needs a newer iOS") << all({tooOldFile, device(QStringLiteral("15.7"))}) << fileTooNew;
        QTest::newRow("file requirement wins over details")
            << all({tooOldFile, details(QStringLiteral("14.0")), device(QStringLiteral("15.7"))}) << fileTooNew;
        QTest::newRow("too old needs a ready device") << tooOldFile << plain(Action::install(fileURL), "Установить", check);
        QTest::newRow("details say too old, no file")
            << all({details(QStringLiteral("17.2")), device(QStringLiteral("16.1"))})
            << plain(Action::chooseVersion(), "Выбрать версию", nullptr, "Версии", "Нужна iOS 17.2, а на iPhone 16.1");
        QTest::newRow("NA in the file falls back to details")
            << all({files({stored(QStringLiteral("NA"))}), details(QStringLiteral("17.2")), device(QStringLiteral("16.1"))})
            << plain(Action::chooseVersion(), "Выбрать версию", check, "Версии", "Нужна iOS 17.2, а на iPhone 16.1");
        QTest::newRow("versions compare as numbers")
            << all({details(QStringLiteral("16.9")), device(QStringLiteral("16.10"))}) << plain(Action::get(), "Установить");
        QTest::newRow("same version is enough")
            << all({details(QStringLiteral("16.0")), device(QStringLiteral("16.0"))}) << plain(Action::get(), "Установить");
        QTest::newRow("nothing at all") << Setup([](Store&) {}) << plain(Action::get(), "Скачать");
        QTest::newRow("nothing but a ready iPhone") << device(QStringLiteral("17.0")) << plain(Action::get(), "Установить");
        QTest::newRow("done job without file") << jobs({job(State::done(QStringLiteral("x.ipa")))}) << plain(Action::get(), "Скачать");
        QTest::newRow("stored file") << storedFile << plain(Action::install(fileURL), "Установить", check);
        QTest::newRow("unreadable stored file") << files({stored(std::nullopt)}) << plain(Action::install(fileURL), "Установить", check);
        QTest::newRow("cancelled job with stored file")
            << all({storedFile, jobs({job(State::cancelled())})}) << plain(Action::install(fileURL), "Установить", check);
        AppSituation again = plain(Action::install(fileURL), "Установить снова", check, "Ещё раз");
        again.isPlain = true;
        QTest::newRow("installed already") << all({storedFile, [](Store& st) { StoreTestAccess::setInstalled(st, {fileURL}); }}) << again;
        IPAFile other = stored();
        other.appID = QStringLiteral("2002");
        QTest::newRow("file of another app is not ours") << files({other}) << plain(Action::get(), "Скачать");
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

// The text rules of the screens: row subtitles, running text, file subtitles, bulk button
// text, button titles and the name filters.
#include "ui/labels.h"

#include <QtTest>

using namespace telmora;

namespace {

AppItem app(std::optional<QString> version = {}, std::optional<QString> purchaseDate = {})
{
    return AppItem{QStringLiteral("1001"), QStringLiteral("Notes"), {}, version, {}, purchaseDate};
}

AppDetails details(std::optional<QString> seller, std::optional<QString> version, std::optional<QString> minOS,
                   std::optional<QString> price)
{
    AppDetails made;
    made.seller = seller;
    made.version = version;
    made.minOS = minOS;
    made.price = price;
    return made;
}

Job job(std::optional<double> fraction, std::optional<QString> detail)
{
    Job made;
    made.app = app();
    made.state = Job::State::running();
    made.fraction = fraction;
    made.detail = detail;
    return made;
}

IPAFile file(std::optional<IPAInfo> info)
{
    IPAFile made;
    made.url = QStringLiteral("/downloads/Notes_2.1.ipa");
    made.info = info;
    made.size = 2'345'678;
    return made;
}

} // namespace

class LabelsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rowSubtitle_data()
    {
        QTest::addColumn<AppItem>("item");
        QTest::addColumn<std::optional<AppDetails>>("found");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing known") << app() << std::optional<AppDetails>() << "ID 1001";
        QTest::newRow("details with nothing") << app() << std::optional(details({}, {}, {}, {})) << "ID 1001";
        QTest::newRow("own version") << app(QStringLiteral("1.2")) << std::optional<AppDetails>() << "v1.2";
        QTest::newRow("everything, details win")
            << app(QStringLiteral("1.2"), QStringLiteral("2024-01-02"))
            << std::optional(details(QStringLiteral("Acme"), QStringLiteral("2.0"), QStringLiteral("15.0"), QStringLiteral("Бесплатно")))
            << "Acme · v2.0 · iOS 15.0+ · Бесплатно · 2024-01-02";
        QTest::newRow("details without a version")
            << app(QStringLiteral("1.2")) << std::optional(details(QStringLiteral("Acme"), {}, {}, {})) << "Acme · v1.2";
    }
    void rowSubtitle()
    {
        QFETCH(AppItem, item);
        QFETCH(std::optional<AppDetails>, found);
        QFETCH(QString, expected);
        QCOMPARE(labels::rowSubtitle(item, found), expected);
    }

    void runningText_data()
    {
        QTest::addColumn<Job>("running");
        QTest::addColumn<QString>("expected");
        QTest::newRow("never rounds up") << job(0.999, {}) << "99%";
        QTest::newRow("0.29 is 29") << job(0.29, {}) << "29%";
        QTest::newRow("fraction and size") << job(0.5, QStringLiteral("12,3 МБ")) << "50% · 12,3 МБ";
        QTest::newRow("size only") << job({}, QStringLiteral("12,3 МБ")) << "12,3 МБ";
        QTest::newRow("nothing yet") << job({}, {}) << "Подготовка…";
    }
    void runningText()
    {
        QFETCH(Job, running);
        QFETCH(QString, expected);
        QCOMPARE(labels::runningText(running), expected);
    }

    void fileSubtitle_data()
    {
        const IPAInfo info{QStringLiteral("Notes"), QStringLiteral("2.1"), QStringLiteral("15.0"), QStringLiteral("iOS")};
        IPAInfo anyOS = info;
        anyOS.minOS = QStringLiteral("NA");
        QTest::addColumn<IPAFile>("stored");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("read") << file(info) << "Notes" << "v2.1 · iOS 15.0+ · 2,3 МБ";
        QTest::newRow("no minimum") << file(anyOS) << "Notes" << "v2.1 · 2,3 МБ";
        QTest::newRow("unreadable") << file(std::nullopt) << "Notes_2.1.ipa" << "Не удалось прочитать файл · 2,3 МБ";
    }
    void fileSubtitle()
    {
        QFETCH(IPAFile, stored);
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QCOMPARE(labels::fileTitle(stored), title);
        QCOMPARE(labels::fileSubtitle(stored), expected);
    }

    void buttons()
    {
        QCOMPARE(labels::bulkText(2, false), QStringLiteral("Скачать выбранные: 2"));
        QCOMPARE(labels::bulkText(12, true), QStringLiteral("Установить выбранные: 12"));
        AppSituation situation;
        situation.title = QStringLiteral("Установить снова");
        QCOMPARE(labels::actionTitle(situation, true), situation.title);
        situation.shortTitle = QStringLiteral("Ещё раз");
        QCOMPARE(labels::actionTitle(situation, true), *situation.shortTitle);
        QCOMPARE(labels::actionTitle(situation, false), situation.title);
        QCOMPARE(labels::placeholderLetter(QStringLiteral("  яндекс")), QStringLiteral("Я"));
        QCOMPARE(labels::placeholderLetter(QStringLiteral("   ")), QString());
    }

    void filter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("matches");
        QTest::newRow("Cyrillic, other case") << "Яндекс Карты" << "яНДЕКС" << true;
        QTest::newRow("Latin, other case") << "Telegram" << "GRAM" << true;
        QTest::newRow("spaces around") << "Яндекс Карты" << "  карты " << true;
        QTest::newRow("blank matches all") << "Telegram" << "   " << true;
        QTest::newRow("no match") << "Telegram" << "карты" << false;
        QTest::newRow("inner space kept") << "Яндекс Карты" << "с к" << true;
    }
    void filter()
    {
        QFETCH(QString, name);
        QFETCH(QString, filter);
        QFETCH(bool, matches);
        QCOMPARE(labels::matchesFilter(labels::filterKey(name), filter), matches);
    }
};

QTEST_GUILESS_MAIN(LabelsTest)
#include "tst_labels.moc"

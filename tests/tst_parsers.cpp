#include "model/parsers.h"
#include "model/text.h"

#include <QtTest>

using namespace telmora;

class ParsersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void groupsReturnsEveryCaptureOfTheFirstMatch()
    {
        QCOMPARE(groups(QStringLiteral("(a)(x)?(b)"), QStringLiteral("zzab ab")),
                 (QStringList{QStringLiteral("ab"), QStringLiteral("a"), QString(), QStringLiteral("b")}));
        QVERIFY(!groups(QStringLiteral("(unclosed"), QStringLiteral("unclosed")));
        QVERIFY(!groups(QStringLiteral("q"), QStringLiteral("abc")));
    }

    void versionComparison_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("two-digit minor") << "17.10" << "17.9" << 1;
        QTest::newRow("major") << "9.3" << "10.0" << -1;
        QTest::newRow("equal") << "15.0" << "15.0" << 0;
        QTest::newRow("longer is newer") << "17.4" << "17.4.1" << -1;
        QTest::newRow("leading zeros") << "17.04" << "17.4" << 0;
        QTest::newRow("patch") << "14.8.1" << "15.0" << -1;
    }

    void versionComparison()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        const auto sign = [](int value) { return (value > 0) - (value < 0); };
        QCOMPARE(sign(compareVersions(a, b)), order);
        QCOMPARE(sign(compareVersions(b, a)), -order);
    }

    void searchOutput()
    {
        const QString output = QStringLiteral("3:04PM INF searching\n"
                                              R"({"Apps":[{"ID":123456789,"Name":"Notes\nPro  Plus","bundleId":"demo-notes"},)"
                                              R"({"id":""},{"id":"55555555"},{"id":"77777777","name":"Maps","version":"2.0"}]})");
        const QList<AppItem> items = parseSearch(output);
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[0].id, QStringLiteral("123456789"));
        QCOMPARE(items[0].name, QStringLiteral("Notes Pro Plus"));
        QVERIFY(items[0].bundleID == QStringLiteral("demo-notes") && !items[0].version);
        QCOMPARE(items[1].name, QStringLiteral("55555555")); // no name: the id stands in
        QCOMPARE(items[2].version, std::optional<QString>(QStringLiteral("2.0")));
        QVERIFY(!items[2].kind && !items[2].purchaseDate);
    }

    void unreadableSearchOutputGivesNothing_data()
    {
        QTest::addColumn<QString>("output");
        QTest::newRow("no brace") << "ERR error=\"Not logged in\"";
        QTest::newRow("broken json") << "{\"apps\":[";
        QTest::newRow("no apps key") << "{\"count\":0}";
        QTest::newRow("apps not an array") << "{\"apps\":{}}";
        QTest::newRow("array of numbers") << "{\"apps\":[1,2]}";
    }

    void unreadableSearchOutputGivesNothing()
    {
        QFETCH(QString, output);
        QVERIFY(parseSearch(output).isEmpty());
    }

    void cleanNameMakesOneLine()
    {
        QCOMPARE(cleanName(QStringLiteral(" \n\r\n  ")), QStringLiteral("Без названия"));
        QCOMPARE(cleanName(QStringLiteral("A\r\nB   C ")), QStringLiteral("A B C"));
    }

    void purchasesOutput()
    {
        const QString line = QStringLiteral(
            R"(3:04PM INF apps=[{"id":1,"kind":"iOS App ","name":"A","purchaseDate":"Mar 5, 2021"},{"id":2,"kind":"Book","name":"B"},)"
            R"({"id":3,"kind":"Mac App","purchaseDate":"x"}] count=3 success=true)");
        const std::optional<QList<AppItem>> items = parsePurchases(line);
        QVERIFY(items);
        QCOMPARE(items->size(), 2);
        // Last array element first.
        QVERIFY(items->at(0).id == QStringLiteral("3") && items->at(0).name == QStringLiteral("3"));
        QVERIFY(items->at(1).kind == QStringLiteral("iOS App") && items->at(1).purchaseDate == QStringLiteral("05.03.2021"));

        QVERIFY(!parsePurchases(QStringLiteral("ERR error=\"Not logged in\" success=false")));
        QVERIFY(!parsePurchases(QStringLiteral("apps=[1,2]")));
        QCOMPARE(parsePurchases(QStringLiteral("INF apps=[] count=0")), std::optional<QList<AppItem>>(QList<AppItem>{}));
    }

    void dates_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("normalized");
        QTest::addColumn<int>("key");
        QTest::newRow("month first") << "Mar 5, 2021" << "05.03.2021" << 20210305;
        QTest::newRow("day first") << "5 March 2021" << "05.03.2021" << 20210305;
        QTest::newRow("abbreviation with point") << "Sept. 17, 2024" << "17.09.2024" << 20240917;
        QTest::newRow("two-digit day") << "Dec 31, 1999" << "31.12.1999" << 19991231;
        QTest::newRow("unknown month stays") << "Foo 5, 2021" << "Foo 5, 2021" << 0;
        QTest::newRow("iso stays") << "2021-03-05" << "2021-03-05" << 0;
        QTest::newRow("lower-case month stays") << "mar 5, 2021" << "mar 5, 2021" << 0;
        QTest::newRow("empty") << "" << "" << 0;
    }

    void dates()
    {
        QFETCH(QString, raw);
        QTEST(normalizedDate(raw), "normalized");
        QTEST(dateKey(normalizedDate(raw)), "key");
        QCOMPARE(dateKey(std::nullopt), 0); // an absent date sorts oldest
    }

    void versionIDsAndMeta()
    {
        QCOMPARE(parseVersionIDs(QStringLiteral(R"({"ids":["812","99","812","1005"],"x":"ab"})")),
                 (QStringList{QStringLiteral("1005"), QStringLiteral("812"), QStringLiteral("99")}));
        QVERIFY(parseVersionIDs(QStringLiteral("externalVersionIdentifiers=[]")).isEmpty());

        const VersionMeta meta = parseVersionMeta(QStringLiteral("displayVersion=2.3.1, minimumOSVersion=15.0"));
        QVERIFY(meta.display == QStringLiteral("2.3.1") && meta.minOS == QStringLiteral("15.0"));
        const VersionMeta none = parseVersionMeta(QStringLiteral("ERR error=\"license is required\""));
        QVERIFY(!none.display && !none.minOS);
    }

    void progress_data()
    {
        QTest::addColumn<QString>("chunk");
        QTest::addColumn<QVariant>("fraction");
        QTest::addColumn<QVariant>("speed");
        QTest::newRow("last non-blank line wins") << "12.5%\r 47.9% (3.2 MB/s)\n" << QVariant(0.47) << QVariant("3.2 MB/s");
        QTest::newRow("capped") << "250%" << QVariant(1.0) << QVariant();
        QTest::newRow("progress bar") << "\r      \r\rdownloading  45% |████     | (45/100 MB, 3.2 MB/s) "
                                      << QVariant(0.45) << QVariant("45/100 MB, 3.2 MB/s");
        QTest::newRow("installer") << "\rInstall: VerifyingApplication (40%)" << QVariant(0.40) << QVariant();
        QTest::newRow("nothing") << "Copying 'app.ipa' to device... DONE.\n" << QVariant() << QVariant();
    }

    void progress()
    {
        QFETCH(QString, chunk);
        QFETCH(QVariant, fraction);
        const Progress progress = parseProgress(chunk);
        QCOMPARE(progress.fraction.has_value(), fraction.isValid());
        if (progress.fraction)
            QCOMPARE(*progress.fraction, fraction.toDouble());
        QTEST(progress.speedValue(), "speed");
    }

    void catalog()
    {
        const QList<AppItem> items = parseCatalog(QStringLiteral("Notes: Sub: 1234567\nBad line\r\nShort: 12345\n  Яндекс Карты :313877526  \n"));
        QCOMPARE(items.size(), 2);
        QVERIFY(items[0].name == QStringLiteral("Notes: Sub") && items[0].id == QStringLiteral("1234567"));
        QCOMPARE(items[1].name, QStringLiteral("Яндекс Карты"));

        // The shipped catalog: complete, every id once.
        QFile file(QStringLiteral(TELMORA_SOURCE_DIR "/resources/AppsList.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<AppItem> shipped = parseCatalog(QString::fromUtf8(file.readAll()));
        QVERIFY(shipped.size() >= 200);
        QSet<QString> ids;
        for (const AppItem& item : shipped)
            ids << item.id;
        QCOMPARE(ids.size(), shipped.size());
    }
};

QTEST_GUILESS_MAIN(ParsersTest)
#include "tst_parsers.moc"

#include "model/records.h"

#include <QJsonDocument>
#include <QSet>
#include <QTest>

using namespace telmora;

class RecordsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void appItemJsonWritesOnlyPresentFields()
    {
        const AppItem bare{QStringLiteral("123456"), QStringLiteral("Notes")};
        const QJsonObject object = bare.toJson();
        QCOMPARE(object.keys(), (QStringList{QStringLiteral("id"), QStringLiteral("name")}));
        QVERIFY(!bare.bundleIDValue().isValid()); // QML sees an absent field as undefined

        AppItem full = bare;
        full.bundleID = QStringLiteral("demo.notes");
        full.kind = QStringLiteral("iOS App");
        full.purchaseDate = QStringLiteral("05.03.2021");
        full.version = QString(); // present but empty is still written
        QCOMPARE(full.toJson().size(), 6);
        QCOMPARE(AppItem::fromJson(full.toJson()), full);
        QCOMPARE(full.bundleIDValue().toString(), QStringLiteral("demo.notes"));
    }

    void appItemJsonReading_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("kindPresent");
        QTest::newRow("null kind") << QByteArray(R"({"id":"1","name":"A","kind":null})") << true << false;
        QTest::newRow("missing optionals, other keys") << QByteArray(R"({"id":"1","name":"A","extra":5})") << true << false;
        QTest::newRow("kind present") << QByteArray(R"({"id":"1","name":"A","kind":"Mac App"})") << true << true;
        QTest::newRow("numeric id") << QByteArray(R"({"id":1,"name":"A"})") << false << false;
        QTest::newRow("missing name") << QByteArray(R"({"id":"1"})") << false << false;
        QTest::newRow("optional of wrong type") << QByteArray(R"({"id":"1","name":"A","version":3})") << false << false;
    }

    void appItemJsonReading()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, readable);
        QFETCH(bool, kindPresent);
        const std::optional<AppItem> item = AppItem::fromJson(QJsonDocument::fromJson(json).object());
        QCOMPARE(item.has_value(), readable);
        if (item)
            QCOMPARE(item->kind.has_value(), kindPresent);
    }

    void listEncodingReadsBack()
    {
        AppItem odd{QStringLiteral("42"), QStringLiteral("Кавычка \" слэш \\ \n таб\t \x01")};
        odd.kind = QStringLiteral("iOS App");
        odd.purchaseDate = QString();
        const QList<AppItem> items{odd, AppItem{QStringLiteral("7"), QStringLiteral("Plain")}};
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(encodeAppItems(items), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(appItemsFromJson(document.array()), std::optional<QList<AppItem>>(items));
        QCOMPARE(document.array().at(1).toObject(), items.at(1).toJson());
        QCOMPARE(encodeAppItems({}), QByteArray("[]"));
        // One bad element makes the whole list unreadable.
        QVERIFY(!appItemsFromJson(QJsonDocument::fromJson(R"([{"id":"1","name":"A"},{"id":"2"}])").array()));
    }

    void equalityAndHashCoverEveryField()
    {
        const AppItem a{QStringLiteral("1"), QStringLiteral("A")};
        AppItem renamed = a;
        renamed.name = QStringLiteral("B");
        QVERIFY(a != renamed); // same identity, different value
        AppItem absentVersusEmpty = a;
        absentVersusEmpty.version = QString();
        QVERIFY(a != absentVersusEmpty);
        QSet<AppItem> set{a, renamed, absentVersusEmpty, a};
        QCOMPARE(set.size(), 3);

        IPAFile file{QStringLiteral("/d/A.ipa"), IPAInfo{QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("NA"), QStringLiteral("iOS")}, 10};
        IPAFile touched = file;
        touched.modified = QDateTime::currentDateTimeUtc();
        QVERIFY(file != touched);
        QCOMPARE(file.url, touched.url);
        QCOMPARE(qHash(file), qHash(IPAFile(file)));

        AppDetails details;
        AppDetails withArtwork;
        withArtwork.artwork = QUrl(QStringLiteral("https://example.com/a.png"));
        QVERIFY(details != withArtwork);
        QVERIFY(qHash(details) != qHash(withArtwork));
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"

// The text rules of the screens, one row per case: rows, jobs, files, buttons, the footer,
// the sheets and the name filters.
#include "ui/labels.h"

#include <QtTest>

#include <functional>

using namespace telmora;
using namespace Qt::Literals::StringLiterals;
using Rule = std::function<QString()>;
Q_DECLARE_METATYPE(Rule)

namespace {

AppItem app(std::optional<QString> version = {}, std::optional<QString> date = {}) { return AppItem{u"1001"_s, u"Notes"_s, {}, version, {}, date}; }

AppDetails details(std::optional<QString> seller, std::optional<QString> version = {}, std::optional<QString> minOS = {},
                   std::optional<QString> price = {})
{
    AppDetails made;
    made.seller = seller;
    made.version = version;
    made.minOS = minOS;
    made.price = price;
    return made;
}

Job job(std::optional<double> fraction, std::optional<QString> detail = {})
{
    Job made{.app = app(), .state = Job::State::running()};
    made.fraction = fraction;
    made.detail = detail;
    return made;
}

// Title and subtitle of a stored file of 2,345,678 bytes.
QString file(std::optional<QString> minOS, bool read = true)
{
    IPAFile made;
    made.url = u"/downloads/Notes_2.1.ipa"_s;
    if (read)
        made.info = IPAInfo{u"Notes"_s, u"2.1"_s, minOS.value_or(u"NA"_s), u"iOS"_s};
    made.size = 2'345'678;
    return labels::fileTitle(made) + u" | "_s + labels::fileSubtitle(made);
}

AppSituation situation(std::optional<QString> shortTitle)
{
    AppSituation made;
    made.title = u"Установить снова"_s;
    made.shortTitle = shortTitle;
    return made;
}

QString filtered(const QString& name, const QString& filter) { return labels::matchesFilter(labels::filterKey(name), filter) ? u"match"_s : u"no"_s; }

VersionRow version(std::optional<QString> minOS) { return VersionRow{u"5"_s, minOS ? std::optional(VersionMeta{u"0.9"_s, minOS}) : std::nullopt}; }

const Device ready{u"A"_s, u"iPhone Анны"_s, u"17.4.1"_s};
const Device untrusted{u"B"_s, u"iPhone Максима"_s, u"?"_s};
const UpdateOffer offer{.version = u"1.2"_s};

} // namespace

class LabelsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rules_data()
    {
        QTest::addColumn<Rule>("rule");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, Rule rule, const QString& expected) { QTest::newRow(name) << rule << expected; };
        using labels::rowSubtitle;
        row("row: nothing known", [] { return rowSubtitle(app(), {}); }, u"ID 1001"_s);
        row("row: empty details", [] { return rowSubtitle(app(), details({})); }, u"ID 1001"_s);
        row("row: own version", [] { return rowSubtitle(app(u"1.2"_s), {}); }, u"v1.2"_s);
        row("row: everything, details win", [] { return rowSubtitle(app(u"1.2"_s, u"2024-01-02"_s), details(u"Acme"_s, u"2.0"_s, u"15.0"_s, u"Бесплатно"_s)); },
            u"Acme · v2.0 · iOS 15.0+ · Бесплатно · 2024-01-02"_s);
        row("row: details without a version", [] { return rowSubtitle(app(u"1.2"_s), details(u"Acme"_s)); }, u"Acme · v1.2"_s);
        row("job: never rounds up", [] { return labels::runningText(job(0.999)); }, u"99%"_s);
        row("job: 0.29 is 29", [] { return labels::runningText(job(0.29)); }, u"29%"_s);
        row("job: fraction and size", [] { return labels::runningText(job(0.5, u"12,3 МБ"_s)); }, u"50% · 12,3 МБ"_s);
        row("job: size only", [] { return labels::runningText(job({}, u"12,3 МБ"_s)); }, u"12,3 МБ"_s);
        row("job: nothing yet", [] { return labels::runningText(job({})); }, u"Подготовка…"_s);
        row("file: read", [] { return file(u"15.0"_s); }, u"Notes | v2.1 · iOS 15.0+ · 2,3 МБ"_s);
        row("file: no minimum", [] { return file({}); }, u"Notes | v2.1 · 2,3 МБ"_s);
        row("file: unreadable", [] { return file({}, false); }, u"Notes_2.1.ipa | Не удалось прочитать файл · 2,3 МБ"_s);
        row("bulk: download", [] { return labels::bulkText(2, false); }, u"Скачать выбранные: 2"_s);
        row("bulk: install", [] { return labels::bulkText(12, true); }, u"Установить выбранные: 12"_s);
        row("action: no short title", [] { return labels::actionTitle(situation({}), true); }, u"Установить снова"_s);
        row("action: compact", [] { return labels::actionTitle(situation(u"Ещё раз"_s), true); }, u"Ещё раз"_s);
        row("action: wide", [] { return labels::actionTitle(situation(u"Ещё раз"_s), false); }, u"Установить снова"_s);
        row("letter: Cyrillic after spaces", [] { return labels::placeholderLetter(u"  яндекс"_s); }, u"Я"_s);
        row("letter: blank", [] { return labels::placeholderLetter(u"   "_s); }, QString());
        row("filter: Cyrillic, other case", [] { return filtered(u"Яндекс Карты"_s, u"яНДЕКС"_s); }, u"match"_s);
        row("filter: Latin, other case", [] { return filtered(u"Telegram"_s, u"GRAM"_s); }, u"match"_s);
        row("filter: spaces around", [] { return filtered(u"Яндекс Карты"_s, u"  карты "_s); }, u"match"_s);
        row("filter: blank matches all", [] { return filtered(u"Telegram"_s, u"   "_s); }, u"match"_s);
        row("filter: no match", [] { return filtered(u"Telegram"_s, u"карты"_s); }, u"no"_s);
        row("filter: inner space kept", [] { return filtered(u"Яндекс Карты"_s, u"с к"_s); }, u"match"_s);
        row("phone: none", [] { return labels::deviceTitle({}) + u" | "_s + labels::deviceSubtitle({}, 0); }, u"iPhone не подключён | Что нужно сделать"_s);
        row("phone: untrusted", [] { return labels::deviceTitle({}) + u" | "_s + labels::deviceSubtitle({}, 1); },
            u"iPhone не подключён | Нажмите «Доверять» на iPhone"_s);
        row("phone: ready", [] { return labels::deviceTitle(ready) + u" | "_s + labels::deviceSubtitle(ready, 2); }, u"iPhone Анны | iOS 17.4.1"_s);
        row("phone: menu entry", [] { return labels::deviceEntry(untrusted); }, u"iPhone Максима, iOS ?"_s);
        row("update: available", [] { return labels::updateTitle(UpdatePhase::available(), offer); }, u"Доступна версия 1.2"_s);
        row("update: never rounds up", [] { return labels::updateTitle(UpdatePhase::downloading(0.999), offer); }, u"Скачиваю: 99%"_s);
        row("update: installing", [] { return labels::updateTitle(UpdatePhase::installing(), offer); }, u"Устанавливаю…"_s);
        row("update: sheet", [] { return labels::updateHeading(offer) + u" | "_s + labels::updateNotes(offer); }, u"Версия 1.2 | Без описания."_s);
        row("account: alone", [] { return labels::accountLetter(u"anna@example.com"_s) + u" | "_s + labels::accountSubtitle(0); }, u"A | Аккаунт Apple"_s);
        row("account: one saved", [] { return labels::accountSubtitle(1); }, u"и ещё 1"_s);
        row("logout: alone", [] { return labels::logoutTitle(u"anna@example.com"_s) + u" | "_s + labels::logoutMessage(0); },
            u"Выйти из аккаунта anna@example.com? | "_s);
        row("logout: another saved", [] { return labels::logoutMessage(1); }, u"Откроется следующий сохранённый аккаунт."_s);
        row("help: no install waits", [] { return labels::deviceHelpSentence({}); }, u"Когда iPhone будет готов, кнопки «Установить» заработают сами."_s);
        row("help: an install waits", [] { return labels::deviceHelpSentence(AwaitingDevice{u"/downloads/Notes.ipa"_s, u"Notes"_s}); },
            u"Установка «Notes» начнётся сама, как только iPhone будет готов."_s);
        row("version: id only", [] { return labels::versionSubtitle(version({})); }, u"ID версии 5"_s);
        row("version: with minimum", [] { return labels::versionSubtitle(version(u"9.0"_s)); }, u"iOS 9.0+ · ID версии 5"_s);
    }
    void rules()
    {
        QFETCH(Rule, rule);
        QFETCH(QString, expected);
        QCOMPARE(rule(), expected);
    }
};

QTEST_GUILESS_MAIN(LabelsTest)
#include "tst_labels.moc"

#include "model/errors.h"

#include <QTest>

using namespace telmora;

class ErrorsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void friendlyError_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("message");
        const QString unknown = QStringLiteral("Неизвестная ошибка");
        QTest::newRow("empty") << "" << unknown;
        QTest::newRow("only blanks and prompts") << " \r\n\t\x1b[31m\x1b[0m\nEnter email:\r\nEnter password: " << unknown;
        QTest::newRow("lowest row wins") << "rate limited\npassword was incorrect" << "Неверная почта или пароль.";
        QTest::newRow("case-insensitive") << "PASSWORD WAS INCORRECT" << "Неверная почта или пароль.";
        QTest::newRow("licence") << "ERR error=\"license is required\"" << "Это приложение не приобреталось на этом аккаунте.";
        QTest::newRow("purchase first") << "you must purchase this app first" << "Это приложение не приобреталось на этом аккаунте.";
        QTest::newRow("apostrophe") << "curl: Couldn't resolve host" << "Нет связи с серверами Apple. Проверьте интернет или VPN.";
        QTest::newRow("install refused") << "ERROR: Install failed. Got error \"x\" IXErrorDomain Code=46"
                                         << "Удалите приложение с iPhone, перезагрузите его и попробуйте снова.";
        QTest::newRow("untrusted") << "ERROR: Invalid HostID (-21)"
                                   << "Компьютер и iPhone не доверяют друг другу. Отключите кабель, подключите снова и нажмите «Доверять» на iPhone.";
        QTest::newRow("phone refusing the computer is no network failure")
            << "ERROR: Could not connect to lockdownd: Invalid HostID (-21)"
            << "Компьютер и iPhone не доверяют друг другу. Отключите кабель, подключите снова и нажмите «Доверять» на iPhone.";
        QTest::newRow("pairing pending keeps the tool's line")
            << "ERROR: Could not connect to lockdownd: Pairing dialog response pending (-19)"
            << "ERROR: Could not connect to lockdownd: Pairing dialog response pending (-19)";
        QTest::newRow("network failure") << "Could not connect to server" << "Нет связи с серверами Apple. Проверьте интернет или VPN.";
        QTest::newRow("coloured line") << "\x1b[31merror: foo\x1b[0m" << "error: foo";
        QTest::newRow("last error line") << "first error\nsecond error\ndone" << "second error";
        QTest::newRow("last line") << "a\nb" << "b";
        QTest::newRow("lower-case enter kept") << "enter something\n" << "enter something";
        QTest::newRow("prompt dropped") << "odd\nEnter 2FA code: " << "odd";
        // The package's own ipatool words its messages for the user in Russian.
        QTest::newRow("Russian error shown as written")
            << "Enter email: \n3:04PM ERR error=\"Установлен ipatool 2.3.1, а эта версия не входит.\" success=false"
            << "Установлен ipatool 2.3.1, а эта версия не входит.";
        QTest::newRow("Russian error of a JSON line, escapes undone")
            << "{\"level\":\"error\",\"error\":\"Не найден \\\"ipatool\\\" в PATH\",\"success\":false}"
            << "Не найден \"ipatool\" в PATH";
        QTest::newRow("known failure before a Russian one")
            << "ERR error=\"Сбой\" success=false\nERR error=\"license is required\" success=false"
            << "Это приложение не приобреталось на этом аккаунте.";
        QTest::newRow("unexplained refusal names the account site")
            << "ERR error=\"something went wrong\""
            << "Apple отказала во входе, не назвав причину. Попробуйте ещё раз через пару минут. Если повторится, проверьте на "
               "account.apple.com, что аккаунт ничего не просит подтвердить, а вместо ключей безопасности включены коды из 6 цифр.";
        QTest::newRow("Russian outside an error field is no message")
            << "INF name=\"Анна\" success=false\nbad thing" << "bad thing";
    }

    void friendlyError()
    {
        QFETCH(QString, raw);
        QFETCH(QString, message);
        QCOMPARE(telmora::friendlyError(raw), message);
    }

    // Unknown text comes back as the tool's own line; each failure the tools print has a message instead.
    void everyToolFailureHasAMessage_data()
    {
        QTest::addColumn<QString>("line");
        for (const char* error : {"too many login attempts", "auth code is required", "account is disabled",
                                  "two-factor auth code required", "this account is temporarily unable to be used in the iTunes Store",
                                  "item is temporarily unavailable", "app not found", "failed to create SAP signer",
                                  "failed to send request: Couldn't resolve host name", "Timeout was reached"})
            QTest::newRow(error) << QStringLiteral("3:04PM ERR error=\"%1\" success=false").arg(QLatin1String(error));
    }

    void everyToolFailureHasAMessage()
    {
        QFETCH(QString, line);
        QVERIFY2(!telmora::friendlyError(line).contains(QStringLiteral("error=")), qPrintable(telmora::friendlyError(line)));
    }
};

QTEST_GUILESS_MAIN(ErrorsTest)
#include "tst_errors.moc"

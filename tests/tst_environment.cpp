// The proxy rules, the child environment, the default tool folder and GNOME's proxy
// settings read through GIO.
#include "platform/platform.h"
#include "tools/bin.h"
#include "tools/environment.h"

#include "files.h"

#include <QtTest>

using namespace telmora;
using telmora::test::writeFile;

namespace {

const QVariantMap httpsOn{{"HTTPSEnable", 1}, {"HTTPSProxy", QStringLiteral("h")}, {"HTTPSPort", 8080}};
const QVariantMap socksOn{{"SOCKSEnable", 1}, {"SOCKSProxy", QStringLiteral("s")}, {"SOCKSPort", 1080}};

QVariantMap merged(QVariantMap a, const QVariantMap& b)
{
    a.insert(b);
    return a;
}

} // namespace

using OptionalSettings = std::optional<QVariantMap>;
using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalSettings)
Q_DECLARE_METATYPE(OptionalText)

class EnvironmentTest : public QObject {
    Q_OBJECT

private slots:
    void systemProxyRules_data()
    {
        QTest::addColumn<OptionalSettings>("settings");
        QTest::addColumn<OptionalText>("expected");
        auto row = [](const char* name, const OptionalSettings& settings, const OptionalText& expected = {}) {
            QTest::newRow(name) << settings << expected;
        };
        row("no dictionary", {});
        row("empty dictionary", QVariantMap());
        row("https", httpsOn, "http://h:8080");
        row("socks", socksOn, "socks5h://s:1080");
        row("https wins over socks", merged(httpsOn, socksOn), "http://h:8080");
        row("https without port falls to socks", merged({{"HTTPSEnable", 1}, {"HTTPSProxy", "h"}}, socksOn), "socks5h://s:1080");
        row("https enable 0", merged(httpsOn, {{"HTTPSEnable", 0}}));
        row("https enable 2", merged(httpsOn, {{"HTTPSEnable", 2}}));
        row("https enable text", merged(httpsOn, {{"HTTPSEnable", QStringLiteral("1")}}));
        row("https enable boolean", merged(httpsOn, {{"HTTPSEnable", true}}));
        row("https enable text, socks on", merged(merged(httpsOn, {{"HTTPSEnable", "1"}}), socksOn), "socks5h://s:1080");
        row("https port text", merged(httpsOn, {{"HTTPSPort", QStringLiteral("8080")}}));
        row("https host not text", merged(httpsOn, {{"HTTPSProxy", 42}}));
        row("wide integers", QVariantMap({{"HTTPSEnable", qlonglong(1)}, {"HTTPSProxy", QStringLiteral("proxy.local")}, {"HTTPSPort", quint64(3128)}}),
            "http://proxy.local:3128");
        row("socks disabled", merged(socksOn, {{"SOCKSEnable", 0}}));
        row("plain http is not consulted", QVariantMap({{"HTTPEnable", 1}, {"HTTPProxy", QStringLiteral("p")}, {"HTTPPort", 80}}));
    }

    void systemProxyRules()
    {
        QFETCH(OptionalSettings, settings);
        QTEST(systemProxy(settings), "expected");
    }

    void environmentRules_data()
    {
        QTest::addColumn<QString>("variable"); // NAME=value of the application
        QTest::addColumn<OptionalText>("proxy"); // what the system settings give
        QTest::addColumn<bool>("unchanged");
        QTest::addColumn<bool>("asked");
        const OptionalText system(QStringLiteral("http://h:8080"));
        for (const char* name : {"HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"})
            QTest::addRow("%s wins", name) << QStringLiteral("%1=http://user:1").arg(QLatin1String(name)) << system << true << false;
        QTest::newRow("empty user value does not count") << "HTTPS_PROXY=" << system << false << true;
        QTest::newRow("only http_proxy") << "http_proxy=http://old:1" << system << false << true;
        QTest::newRow("only HTTP_PROXY") << "HTTP_PROXY=http://old:1" << system << false << true;
        QTest::newRow("no system proxy") << "http_proxy=http://old:1" << OptionalText() << true << true;
    }

    void environmentRules()
    {
        QFETCH(QString, variable);
        QFETCH(OptionalText, proxy);
        QProcessEnvironment base;
        base.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        base.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        bool wasAsked = false;
        const QProcessEnvironment result = toolEnvironment(base, [&] {
            wasAsked = true;
            return proxy;
        });
        QTEST(wasAsked, "asked");
        QProcessEnvironment expected = base; // everything else as it was, upper-case HTTP_PROXY included
        QFETCH(bool, unchanged);
        if (!unchanged) {
            expected.insert(QStringLiteral("https_proxy"), *proxy);
            expected.insert(QStringLiteral("http_proxy"), *proxy);
        }
        QCOMPARE(result.toStringList(), expected.toStringList());
    }

    // The package's own tools first; the device tools from the system's PATH.
    void defaultToolFolderIsInPackageResources()
    {
        if (qEnvironmentVariableIsSet("CRVEL_BIN_DIR"))
            QSKIP("CRVEL_BIN_DIR is set for this run");
        QTemporaryDir system;
        const QString tool = system.filePath(QStringLiteral("idevice_id"));
        QVERIFY(writeFile(tool, {}, true));
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(system.path()));
        const QString packaged = platform::resourcesFolder() + QStringLiteral("/bin/ipatool");
        const QString fromSystem = Bin::tool(QStringLiteral("idevice_id"));
        const QString absent = Bin::tool(QStringLiteral("ipatool"));
        qputenv("PATH", savedPath);

        QCOMPARE(Bin::dir(), platform::resourcesFolder() + QStringLiteral("/bin"));
        QCOMPARE(fromSystem, tool);
        QCOMPARE(absent, packaged);
    }

    void gnomeProxySettings()
    {
        // A private copy of GNOME's proxy schemas and a key file back end, set up before
        // anything in this process touches GSettings.
        const QString compiler = QStandardPaths::findExecutable(QStringLiteral("glib-compile-schemas"));
        if (compiler.isEmpty())
            QSKIP("glib-compile-schemas is not installed");
        QTemporaryDir root;
        const QString schemas = root.filePath(QStringLiteral("schemas"));
        QByteArray schema = "<schemalist><schema id='org.gnome.system.proxy' path='/system/proxy/'>"
                            "<key name='mode' type='s'><default>'none'</default></key>"
                            "<child name='https' schema='org.gnome.system.proxy.https'/>"
                            "<child name='socks' schema='org.gnome.system.proxy.socks'/></schema>";
        for (const QByteArray kind : {"https", "socks"})
            schema += "<schema id='org.gnome.system.proxy." + kind + "' path='/system/proxy/" + kind + "/'><key name='host' type='s'>"
                      "<default>''</default></key><key name='port' type='i'><default>0</default></key></schema>";
        schema += "</schemalist>";
        QVERIFY(writeFile(schemas + QStringLiteral("/org.gnome.system.proxy.gschema.xml"), schema));
        QCOMPARE(QProcess::execute(compiler, {schemas}), 0);
        const QString keyfile = root.filePath(QStringLiteral("config/glib-2.0/settings/keyfile"));
        QVERIFY(writeFile(keyfile, "[system/proxy]\nmode='manual'\n\n"
                                   "[system/proxy/https]\nhost='proxy.example'\nport=3128\n\n"
                                   "[system/proxy/socks]\nhost='socks.example'\nport=0\n"));
        qputenv("GSETTINGS_SCHEMA_DIR", QFile::encodeName(schemas));
        qputenv("GSETTINGS_BACKEND", "keyfile");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));

        // A SOCKS proxy without a port is no proxy.
        QCOMPARE(platform::proxySettings(),
                 OptionalSettings(QVariantMap({{"HTTPSEnable", 1}, {"HTTPSProxy", QStringLiteral("proxy.example")}, {"HTTPSPort", 3128}})));
        QCOMPARE(systemProxy(), OptionalText(QStringLiteral("http://proxy.example:3128")));

        // Later changes are seen without restarting.
        QVERIFY(writeFile(keyfile, "[system/proxy]\nmode='none'\n\n"
                                   "[system/proxy/https]\nhost='proxy.example'\nport=3128\n"));
        QTRY_COMPARE_WITH_TIMEOUT(platform::proxySettings(), OptionalSettings(QVariantMap()), 30000);
        QCOMPARE(systemProxy(), OptionalText());
    }
};

QTEST_GUILESS_MAIN(EnvironmentTest)
#include "tst_environment.moc"

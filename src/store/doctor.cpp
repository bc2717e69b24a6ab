#include "store/doctor.h"

#include "store/store.h"
#include "tools/bin.h"
#include "tools/installer.h"
#include "tools/ipatool.h"
#include "tools/runner.h"
#include "tools/upstream.h"

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <QFileInfo>
#include <QRegularExpression>

namespace telmora {

namespace {

// "idevice_id 1.3.0" → "1.3.0".
QString versionIn(const QString& output)
{
    static const QRegularExpression number(QStringLiteral("\\b(\\d+(?:\\.\\d+)+)\\b"));
    const QRegularExpressionMatch match = number.match(output.section(u'\n', 0, 0));
    return match.hasMatch() ? match.captured(1) : QStringLiteral("неизвестна");
}

bool runnable(const QString& path)
{
    const QFileInfo file(path);
    return file.isFile() && file.isExecutable();
}

Finding missing(const QString& name, const QString& path, const QString& package)
{
    return {name, QStringLiteral("не найден (%1); установите пакет %2").arg(path, package), false};
}

// A device tool from the system: found, and the version it reports.
QCoro::Task<Finding> deviceTool(QString name, QString package)
{
    const QString path = Bin::tool(name);
    if (!runnable(path))
        co_return missing(name, path, package);
    const QStringList args{QStringLiteral("--version")};
    QCoro::Task<ToolResult> asking = runTool(path, args);
    const ToolResult result = co_await asking;
    co_return Finding{name, path + QStringLiteral(", версия ") + versionIn(result.out + result.err)};
}

QCoro::Task<Finding> installerTool()
{
    QCoro::Task<Finding> tool = deviceTool(QStringLiteral("ideviceinstaller"), QStringLiteral("ideviceinstaller"));
    Finding found = co_await tool;
    if (!found.ok)
        co_return found;
    QCoro::Task<installer::Syntax> asking = installer::askSyntax();
    const installer::Syntax syntax = co_await asking;
    found.detail += QStringLiteral(", синтаксис ") + installer::describe(syntax);
    co_return found;
}

QCoro::Task<Finding> deviceService()
{
    const QStringList args{QStringLiteral("-l")};
    QCoro::Task<ToolResult> listing = runTool(Bin::tool(QStringLiteral("idevice_id")), args);
    const ToolResult result = co_await listing;
    const QString subject = QStringLiteral("служба устройств (usbmuxd)");
    if (result.status != 0)
        co_return Finding{subject, QStringLiteral("не отвечает; iPhone не будет виден. Подключите iPhone или запустите: sudo systemctl start usbmuxd"),
                          false, false};
    const qsizetype phones = result.out.split(u'\n', Qt::SkipEmptyParts).size();
    co_return Finding{subject, QStringLiteral("отвечает, подключено iPhone: %1").arg(phones), true, false};
}

// The App Store tool the package's ipatool drives.
QCoro::Task<Finding> upstreamTool(QString adapter)
{
    const QString subject = QStringLiteral("ipatool (upstream)");
    const QString path = upstream::findUpstreamIpatool(adapter);
    if (path.isEmpty())
        co_return Finding{subject, upstream::missingMessage(), false};
    QFuture<upstream::VersionCheck> asking = QtConcurrent::run([path] { return upstream::upstreamVersion(path); });
    const upstream::VersionCheck check = co_await asking;
    if (!check.ran)
        co_return Finding{subject, upstream::brokenMessage(path), false};
    if (!upstream::isSupported(check))
        co_return Finding{subject, upstream::tooOldMessage(*check.version), false};
    co_return Finding{subject, path + QStringLiteral(", версия ") + (check.version ? check.version->text() : check.output)};
}

QCoro::Task<QList<Finding>> storeTool()
{
    const QString path = ipatool::executable();
    if (!runnable(path))
        co_return QList<Finding>{{QStringLiteral("ipatool"), QStringLiteral("не найден (%1); пакет Telmora собран не полностью").arg(path), false}};
    QCoro::Task<Finding> checkingUpstream = upstreamTool(path);
    const Finding upstreamFound = co_await checkingUpstream;
    const QStringList authInfo = ipatool::authInfo();
    QCoro::Task<ToolResult> asking = runTool(path, authInfo);
    const ToolResult account = co_await asking;
    QList<Finding> found{{QStringLiteral("ipatool"), path}, upstreamFound};
    const std::optional<QString> email = parseEmail(account.out);
    found.append({QStringLiteral("аккаунт"), email ? QStringLiteral("вход выполнен: ") + *email : QStringLiteral("вход не выполнен (войдите в окне Telmora)"),
                  email.has_value(), false});
    co_return found;
}

QString mark(const Finding& finding)
{
    if (finding.ok)
        return QStringLiteral("[ок] ");
    return finding.needed ? QStringLiteral("[нет]") : QStringLiteral("[--] ");
}

} // namespace

bool Diagnosis::ready() const
{
    return std::ranges::none_of(findings, [](const Finding& f) { return f.needed && !f.ok; });
}

QString Diagnosis::text() const
{
    QString text;
    for (const Finding& finding : findings)
        text += mark(finding) + u' ' + finding.subject + QStringLiteral(": ") + finding.detail + u'\n';
    text += ready() ? QStringLiteral("Всё нужное для работы с iPhone и аккаунтом Apple на месте.\n")
                    : QStringLiteral("Не хватает того, что отмечено [нет].\n");
    return text;
}

QCoro::Task<Diagnosis> diagnose(QString sessionFolder, QString downloadsFolder)
{
    // Every task is named before it is awaited: GCC 12 destroys temporaries inside a
    // co_await expression twice.
    const QString utils = QStringLiteral("libimobiledevice-utils");
    QCoro::Task<QList<Finding>> storeCheck = storeTool();
    Diagnosis diagnosis;
    diagnosis.findings = co_await storeCheck;
    QCoro::Task<Finding> listCheck = deviceTool(QStringLiteral("idevice_id"), utils);
    const Finding deviceList = co_await listCheck;
    QCoro::Task<Finding> infoCheck = deviceTool(QStringLiteral("ideviceinfo"), utils);
    const Finding deviceInfo = co_await infoCheck;
    QCoro::Task<Finding> installerCheck = installerTool();
    const Finding installer = co_await installerCheck;
    QCoro::Task<Finding> serviceCheck = deviceService();
    const Finding service = co_await serviceCheck;
    diagnosis.findings += {deviceList, deviceInfo, installer, service};
    diagnosis.findings += Finding{QStringLiteral("сессия"), sessionFolder, true, false};
    diagnosis.findings += Finding{QStringLiteral("загрузки"), downloadsFolder, true, false};
    co_return diagnosis;
}

} // namespace telmora

#include "store/doctor.h"

#include "store/store.h"
#include "tools/bin.h"
#include "tools/installer.h"
#include "tools/ipatool.h"
#include "tools/runner.h"

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
    const ToolResult result = co_await runTool(path, args);
    co_return Finding{name, path + QStringLiteral(", версия ") + versionIn(result.out + result.err)};
}

QCoro::Task<Finding> installerTool()
{
    Finding found = co_await deviceTool(QStringLiteral("ideviceinstaller"), QStringLiteral("ideviceinstaller"));
    if (!found.ok)
        co_return found;
    const installer::Syntax syntax = co_await installer::askSyntax();
    found.detail += QStringLiteral(", синтаксис ") + installer::describe(syntax);
    co_return found;
}

QCoro::Task<Finding> deviceService()
{
    const QStringList args{QStringLiteral("-l")};
    const ToolResult result = co_await runTool(Bin::tool(QStringLiteral("idevice_id")), args);
    const QString subject = QStringLiteral("служба устройств (usbmuxd)");
    if (result.status != 0)
        co_return Finding{subject, QStringLiteral("не отвечает; iPhone не будет виден. Подключите iPhone или запустите: sudo systemctl start usbmuxd"),
                          false, false};
    const qsizetype phones = result.out.split(u'\n', Qt::SkipEmptyParts).size();
    co_return Finding{subject, QStringLiteral("отвечает, подключено iPhone: %1").arg(phones), true, false};
}

QCoro::Task<QList<Finding>> storeTool()
{
    const QString path = ipatool::executable();
    if (!runnable(path))
        co_return QList<Finding>{{QStringLiteral("ipatool"), QStringLiteral("не найден (%1); пакет Telmora собран не полностью").arg(path), false}};
    QList<Finding> found{{QStringLiteral("ipatool"), path}};
    const ToolResult account = co_await runTool(path, ipatool::authInfo());
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
    Diagnosis diagnosis;
    diagnosis.findings += co_await storeTool();
    diagnosis.findings += co_await deviceTool(QStringLiteral("idevice_id"), QStringLiteral("libimobiledevice-utils"));
    diagnosis.findings += co_await deviceTool(QStringLiteral("ideviceinfo"), QStringLiteral("libimobiledevice-utils"));
    diagnosis.findings += co_await installerTool();
    diagnosis.findings += co_await deviceService();
    diagnosis.findings += Finding{QStringLiteral("сессия"), sessionFolder, true, false};
    diagnosis.findings += Finding{QStringLiteral("загрузки"), downloadsFolder, true, false};
    co_return diagnosis;
}

} // namespace telmora

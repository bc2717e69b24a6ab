#include "tools/upstream.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>

namespace telmora::upstream {

namespace {

bool isRunnableOtherThan(const QString& candidate, const QString& selfPath)
{
    const QFileInfo info(candidate);
    if (!info.isFile() || !info.isExecutable())
        return false;
    const QString self = QFileInfo(selfPath).canonicalFilePath();
    return self.isEmpty() || info.canonicalFilePath() != self;
}

QString architecture()
{
    const QString cpu = QSysInfo::currentCpuArchitecture();
    return cpu.startsWith(u"arm64") || cpu.startsWith(u"aarch64") ? QStringLiteral("arm64") : QStringLiteral("amd64");
}

QString installSteps()
{
    const QString binary = QStringLiteral("ipatool-%1-linux-%2").arg(recommended.text(), architecture());
    return QStringLiteral("скачайте архив %1 со страницы выпусков github.com/majd/ipatool/releases, "
                          "положите файл bin/%2 из него в папку из PATH (например, ~/.local/bin) под именем ipatool "
                          "и сделайте его исполняемым.")
        .arg(releaseArchive(), binary);
}

} // namespace

QString Version::text() const
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

QString findUpstreamIpatool(const QString& selfPath)
{
    if (const QString chosen = qEnvironmentVariable("TELMORA_IPATOOL"); !chosen.isEmpty())
        return isRunnableOtherThan(chosen, selfPath) ? chosen : QString();
    const QStringList folders = qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts);
    for (const QString& folder : folders) {
        const QString candidate = QDir(folder).filePath(QStringLiteral("ipatool"));
        if (isRunnableOtherThan(candidate, selfPath))
            return candidate;
    }
    return {};
}

std::optional<Version> parseVersion(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("\\bv?(\\d+)\\.(\\d+)(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return Version{match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt()};
}

VersionCheck upstreamVersion(const QString& path)
{
    VersionCheck check;
    QProcess process;
    process.setProgram(path);
    process.setArguments({QStringLiteral("--version")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return check;
    }
    check.ran = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    check.output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (check.ran)
        check.version = parseVersion(check.output);
    return check;
}

bool isSupported(const VersionCheck& check)
{
    return !check.version || *check.version >= oldestSupported;
}

QString releaseArchive()
{
    return QStringLiteral("ipatool-%1-linux-%2.tar.gz").arg(recommended.text(), architecture());
}

QString missingMessage()
{
    return QStringLiteral("Не найден ipatool — программа, через которую Telmora работает с App Store. "
                          "Установите ipatool %1: ")
               .arg(recommended.text())
        + installSteps();
}

QString brokenMessage(const QString& path)
{
    return QStringLiteral("ipatool (%1) не запускается. Установите ipatool %2 заново: ").arg(path, recommended.text())
        + installSteps();
}

QString tooOldMessage(const Version& found)
{
    return QStringLiteral("Установлен ipatool %1, а эта версия больше не может войти в аккаунт Apple. "
                          "Нужна версия %2 или новее. Установите ipatool %3: ")
               .arg(found.text(), QStringLiteral("%1.%2").arg(oldestSupported.major).arg(oldestSupported.minor),
                    recommended.text())
        + installSteps();
}

} // namespace telmora::upstream

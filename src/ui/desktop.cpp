#include "ui/desktop.h"

#include "platform/platform.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QPalette>

namespace telmora {

Desktop::Desktop(const QString& resourcesFolder, std::optional<bool> forcedDark, QObject* parent)
    : QObject(parent)
    , m_resourcesFolder(resourcesFolder)
    , m_forcedDark(forcedDark)
    , m_reduceMotion(!platform::animationsEnabled())
{
    resolveDark();
    if (!m_forcedDark) {
        platform::watchColorScheme(this, [this](std::optional<bool> dark) {
            m_desktopDark = dark;
            resolveDark();
        });
        // Without a stated preference the window palette decides, and it can change.
        qApp->installEventFilter(this);
    }
}

bool Desktop::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        resolveDark();
    return QObject::eventFilter(watched, event);
}

void Desktop::resolveDark()
{
    bool dark = false;
    if (m_forcedDark)
        dark = *m_forcedDark;
    else if (m_desktopDark)
        dark = *m_desktopDark;
    else
        dark = QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
    if (dark == m_dark)
        return;
    m_dark = dark;
    Q_EMIT darkChanged();
}

void Desktop::setReduceMotion(bool reduce)
{
    if (reduce == m_reduceMotion)
        return;
    m_reduceMotion = reduce;
    Q_EMIT reduceMotionChanged();
}

QUrl Desktop::resourcesUrl() const
{
    return QUrl::fromLocalFile(QDir(m_resourcesFolder).absolutePath() + u'/');
}

QString Desktop::resourcesFolder() const
{
    return QDir(m_resourcesFolder).absolutePath();
}

QString Desktop::revealTitle() const
{
    return platform::revealInFileManagerTitle();
}

void Desktop::reveal(const QString& path) const
{
    platform::revealInFileManager(path);
}

void Desktop::openFolder(const QString& path) const
{
    QDir().mkpath(path);
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void Desktop::openLink(const QString& url) const
{
    QDesktopServices::openUrl(QUrl(url));
}

void Desktop::copyText(const QString& text) const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

void Desktop::openThirdPartyNotice() const
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(m_resourcesFolder).filePath(QStringLiteral("THIRD_PARTY.txt"))));
}

} // namespace telmora

#pragma once

#include "ui/published.h"

#include <QObject>
#include <QQmlEngine>
#include <QUrl>
#include <optional>

namespace telmora {

// What the interface needs from the desktop and QML cannot do itself: the appearance and
// reduce-motion preferences, the package's resource folder, the file manager, the browser
// and the clipboard.
class Desktop : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool dark READ dark NOTIFY darkChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(QUrl resourcesUrl READ resourcesUrl CONSTANT)
    Q_PROPERTY(QString resourcesFolder READ resourcesFolder CONSTANT)
    Q_PROPERTY(QString revealTitle READ revealTitle CONSTANT)

public:
    // `resourcesFolder` holds logo.png, wordmark.png and THIRD_PARTY.txt; `forcedDark` fixes the
    // appearance (the --appearance option), otherwise it follows the desktop.
    explicit Desktop(const QString& resourcesFolder, std::optional<bool> forcedDark = std::nullopt, QObject* parent = nullptr);

    // QML gets the application's instance (Interface publishes it).
    static Desktop* create(QQmlEngine* engine, QJSEngine* js) { return Published<Desktop>::create(engine, js); }

    [[nodiscard]] bool dark() const { return m_dark; }
    [[nodiscard]] bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduce);
    [[nodiscard]] QUrl resourcesUrl() const;
    [[nodiscard]] QString resourcesFolder() const;
    [[nodiscard]] QString revealTitle() const;

    Q_INVOKABLE void reveal(const QString& path) const;
    Q_INVOKABLE void openFolder(const QString& path) const;
    Q_INVOKABLE void openLink(const QString& url) const;
    Q_INVOKABLE void copyText(const QString& text) const;
    // The licence notice named in the About dialog.
    Q_INVOKABLE void openThirdPartyNotice() const;

Q_SIGNALS:
    void darkChanged();
    void reduceMotionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void resolveDark();

    QString m_resourcesFolder;
    std::optional<bool> m_forcedDark;
    std::optional<bool> m_desktopDark; // the desktop's stated preference
    bool m_dark = false;
    bool m_reduceMotion = false;
};

} // namespace telmora

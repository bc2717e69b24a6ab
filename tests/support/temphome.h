#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

namespace telmora::test {

// Points HOME (and the XDG folders derived from it) at a fresh temporary folder for the
// life of the object, so nothing a test does reaches the user's real files.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString filePath(const QString& relative) const { return m_dir.filePath(relative); }
    // Where the Store keeps downloads and its own data under this home.
    [[nodiscard]] QString downloadsFolder() const;
    [[nodiscard]] QString dataFolder() const;

private:
    QTemporaryDir m_dir;
    QHash<QByteArray, QByteArray> m_saved;
};

} // namespace telmora::test

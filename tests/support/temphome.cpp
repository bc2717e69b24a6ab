#include "temphome.h"

#include <QDir>

namespace telmora::test {

namespace {
const QList<QByteArray> redirected = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                      "XDG_DOWNLOAD_DIR", "XDG_STATE_HOME"};
}

TempHome::TempHome()
{
    for (const QByteArray& name : redirected) {
        if (qEnvironmentVariableIsSet(name.constData()))
            m_saved.insert(name, qgetenv(name.constData()));
        qunsetenv(name.constData());
    }
    qputenv("HOME", QFile::encodeName(m_dir.path()));
}

TempHome::~TempHome()
{
    for (const QByteArray& name : redirected) {
        if (m_saved.contains(name))
            qputenv(name.constData(), m_saved.value(name));
        else
            qunsetenv(name.constData());
    }
}

QString TempHome::downloadsFolder() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("Downloads/Telmora"));
}

QString TempHome::dataFolder() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral(".local/share/Telmora"));
}

} // namespace telmora::test

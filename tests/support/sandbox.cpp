#include "sandbox.h"

#include "tools/bin.h"

#include <QDir>

namespace telmora::test {

static const QList<QByteArray> redirected = {"HOME",           "XDG_DATA_HOME",  "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                             "XDG_DOWNLOAD_DIR", "XDG_STATE_HOME", "TMPDIR",          "CRVEL_BIN_DIR"};

Sandbox::Sandbox()
{
    for (const QByteArray& name : redirected) {
        if (qEnvironmentVariableIsSet(name.constData()))
            m_saved.insert(name, qgetenv(name.constData()));
        qunsetenv(name.constData());
    }
    QDir().mkpath(tempFolder());
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qputenv("TMPDIR", QFile::encodeName(tempFolder()));
    qputenv("CRVEL_BIN_DIR", QByteArrayLiteral(TELMORA_SIM_BIN_DIR));
    Bin::setDirForTesting(QStringLiteral(TELMORA_SIM_BIN_DIR));
}

Sandbox::~Sandbox()
{
    Bin::setDirForTesting(std::nullopt);
    for (const QByteArray& name : redirected) {
        if (m_saved.contains(name))
            qputenv(name.constData(), m_saved.value(name));
        else
            qunsetenv(name.constData());
    }
}

} // namespace telmora::test

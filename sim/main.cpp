#include "output.h"
#include "tools.h"
#include "world.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstring>

using namespace telmora::sim;

// One program, four tools: the name it was started under picks the tool, so the build
// links it as ipatool, idevice_id, ideviceinfo and ideviceinstaller.
int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));

    const char* slash = std::strrchr(argv[0], '/');
    QString tool = QString::fromLocal8Bit(slash ? slash + 1 : argv[0]);
    if (tool == u"telmora-sim") {
        if (args.isEmpty()) {
            writeErr("usage: telmora-sim ipatool|idevice_id|ideviceinfo|ideviceinstaller [arguments]\n");
            return 2;
        }
        tool = args.takeFirst();
    }

    QString error;
    const std::optional<World> world = World::load(&error);
    if (!world) {
        writeErr(QStringLiteral("telmora-sim: cannot read the world %1: %2\n").arg(World::path(), error).toLocal8Bit());
        return 70;
    }
    if (world->log)
        state::logCall(tool, args);

    if (tool == u"ipatool")
        return runIpatool(*world, args);
    if (tool == u"idevice_id")
        return runIdeviceId(*world, args);
    if (tool == u"ideviceinfo")
        return runIdeviceInfo(*world, args);
    if (tool == u"ideviceinstaller")
        return runIdeviceInstaller(*world, args);
    writeErr(QStringLiteral("telmora-sim: unknown tool %1\n").arg(tool).toLocal8Bit());
    return 2;
}

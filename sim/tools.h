#pragma once

#include "world.h"

#include <QStringList>

namespace telmora::sim {

// Each returns the process exit status; `args` are the arguments after the program name.
int runIpatool(const World& world, const QStringList& args);
int runIdeviceId(const World& world, const QStringList& args);
int runIdeviceInfo(const World& world, const QStringList& args);
int runIdeviceInstaller(const World& world, const QStringList& args);

} // namespace telmora::sim

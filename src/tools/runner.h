#pragma once

#include <QCoroTask>
#include <QHashFunctions>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <optional>

namespace telmora {

// What a tool run to completion left behind. `status` is -1 when the tool could not
// start; `err` then holds the system's description of why.
struct ToolResult {
    Q_GADGET
    Q_PROPERTY(int status MEMBER status)
    Q_PROPERTY(QString out MEMBER out)
    Q_PROPERTY(QString err MEMBER err)
public:
    int status = -1;
    QString out;
    QString err;

    bool operator==(const ToolResult&) const = default;
};
size_t qHash(const ToolResult& result, size_t seed = 0);

// Runs `exe` with `args` (no shell) to completion: standard input the null device,
// standard output and error collected separately, environment toolEnvironment(),
// working folder `cwd` when given. Both texts are decoded as UTF-8 and cleaned of
// terminal control sequences. Never fails: a start failure is status -1. No time-out.
// Runs on the calling thread's event loop (the interface thread for the Store).
QCoro::Task<ToolResult> runTool(const QString& exe, const QStringList& args,
                                const std::optional<QString>& cwd = {});

// Runs a system program synchronously with every stream on the null device and the
// application's own environment; its exit status, or -1 when it cannot start.
// Blocks: call it from a worker, never from the interface thread.
int runQuietly(const QString& path, const QStringList& args);

} // namespace telmora

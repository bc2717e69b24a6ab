// The simulated device tools: idevice_id and ideviceinfo as libimobiledevice-utils 1.3.0
// prints them, ideviceinstaller with the 1.2 command syntax or, when the world names an
// older version, the option syntax of 1.1 (Debian 12 ships 1.1.1).

#include "ipa.h"
#include "output.h"
#include "tools.h"
#include "world.h"

#include <QDateTime>
#include <QJsonObject>
#include <QRegularExpression>

namespace telmora::sim {

namespace {

QByteArray line(const QString& text)
{
    return text.toUtf8() + '\n';
}

// Prints an injected failure as the tool would and gives its exit status.
int injected(const Failure& failure, int status)
{
    writeErr(failure.error.endsWith(u'\n') ? failure.error.toUtf8() : line(failure.error));
    return failure.status.value_or(status);
}

// Digit runs compared as numbers: 17.10 is newer than 17.9.
int compareVersions(const QString& a, const QString& b)
{
    const QStringList left = a.split(u'.');
    const QStringList right = b.split(u'.');
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const qint64 x = left.value(i).toLongLong();
        const qint64 y = right.value(i).toLongLong();
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

// "Pairing dialog response pending (-19)" as ideviceinstaller words it, without the code.
QString lockdownText(const Device& device)
{
    static const QRegularExpression code(QStringLiteral("\\s*\\(-?\\d+\\)$"));
    return QString(device.lockdown).remove(code);
}

} // namespace

int runIdeviceId(const World& world, const QStringList& args)
{
    bool list = false;
    QString udid;
    for (const QString& arg : args) {
        if (arg == u"-l" || arg == u"--list") {
            list = true;
        } else if (arg == u"-h" || arg == u"--help") {
            writeOut("Usage: idevice_id [OPTIONS] [UDID]\n\nList attached devices or print device name of given device.\n\n"
                     "  -l, --list\t\tlist UDIDs of all devices attached via USB\n"
                     "  -n, --network\t\tlist UDIDs of all devices available via network\n"
                     "  -d, --debug\t\tenable communication debugging\n");
            return 0;
        } else if (arg == u"-v" || arg == u"--version") {
            writeOut("idevice_id 1.3.0\n");
            return 0;
        } else if (arg == u"-n" || arg == u"--network" || arg == u"-d" || arg == u"--debug") {
            continue;
        } else if (!arg.startsWith(u'-')) {
            udid = arg;
        }
    }
    pause(world.timings.device);

    Subject subject;
    subject.device = udid;
    if (const Failure* failure = world.error({QStringLiteral("idevice_id")}, subject))
        return injected(*failure, 255);

    if (list) {
        QByteArray out;
        for (const Device* device : world.connectedDevices())
            out += line(device->udid);
        writeOut(out);
        return 0;
    }
    if (udid.isEmpty()) {
        writeErr("Usage: idevice_id [OPTIONS] [UDID]\n");
        return 1;
    }
    const Device* device = world.device(udid);
    if (!device || !device->connected) {
        writeErr(line(QStringLiteral("ERROR: No device with UDID %1 attached.").arg(udid)));
        return 254;
    }
    // The name is readable without pairing.
    writeOut(line(device->name));
    return 0;
}

int runIdeviceInfo(const World& world, const QStringList& args)
{
    QString udid;
    QString key;
    bool simple = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if ((arg == u"-u" || arg == u"--udid") && i + 1 < args.size())
            udid = args[++i];
        else if ((arg == u"-k" || arg == u"--key") && i + 1 < args.size())
            key = args[++i];
        else if ((arg == u"-q" || arg == u"--domain") && i + 1 < args.size())
            ++i;
        else if (arg == u"-s" || arg == u"--simple")
            simple = true;
        else if (arg == u"-v" || arg == u"--version") {
            writeOut("ideviceinfo 1.3.0\n");
            return 0;
        }
    }
    pause(world.timings.device);

    Subject subject;
    subject.device = udid;
    if (const Failure* failure = world.error({QStringLiteral("ideviceinfo")}, subject))
        return injected(*failure, 255);

    const Device* device = nullptr;
    if (udid.isEmpty()) {
        const QList<const Device*> connected = world.connectedDevices();
        if (connected.isEmpty()) {
            writeOut("ERROR: No device found!\n");
            return 255;
        }
        device = connected.first();
    } else {
        device = world.device(udid);
        if (!device || !device->connected) {
            writeOut(line(QStringLiteral("ERROR: Device %1 not found!").arg(udid)));
            return 255;
        }
    }
    if (!device->trusted && !simple) {
        writeErr(line(QStringLiteral("ERROR: Could not connect to lockdownd: %1").arg(device->lockdown)));
        return 255;
    }

    const QList<std::pair<QString, QString>> values = {
        {QStringLiteral("BuildVersion"), device->buildVersion},
        {QStringLiteral("DeviceClass"), QStringLiteral("iPhone")},
        {QStringLiteral("DeviceName"), device->name},
        {QStringLiteral("ProductName"), QStringLiteral("iPhone OS")},
        {QStringLiteral("ProductType"), device->productType},
        {QStringLiteral("ProductVersion"), device->ios},
        {QStringLiteral("UniqueDeviceID"), device->udid}};
    QByteArray out;
    for (const auto& [name, value] : values) {
        if (key.isEmpty())
            out += line(name + QStringLiteral(": ") + value);
        else if (key == name)
            out += line(value);
    }
    writeOut(out);
    return 0;
}

namespace {

struct InstallerCall {
    QString udid;
    QString command; // "install", "upgrade", "list", or empty when none was understood
    QString path;
    QString invalid; // a 1.2 command word that was not understood
    bool version = false;
};

// 1.2: `[--udid U] install|upgrade PATH` and `list`.
InstallerCall readCommandSyntax(const QStringList& args)
{
    InstallerCall call;
    QStringList words;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if ((arg == u"-u" || arg == u"--udid") && i + 1 < args.size())
            call.udid = args[++i];
        else if (arg == u"-v" || arg == u"--version")
            call.version = true;
        else if (arg == u"-n" || arg == u"--network" || arg == u"-d" || arg == u"--debug" || arg == u"-w" || arg == u"--notify-wait")
            continue;
        else
            words.append(arg);
    }
    const QString word = words.value(0);
    if (word == u"list" || ((word == u"install" || word == u"upgrade") && words.size() == 2)) {
        call.command = word;
        call.path = words.value(1);
    } else {
        call.invalid = word;
    }
    return call;
}

// 1.1: `[-u U] -i PATH`, `-g PATH`, `-l`; command words are not understood.
InstallerCall readOptionSyntax(const QStringList& args)
{
    InstallerCall call;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if ((arg == u"-u" || arg == u"--udid") && hasValue)
            call.udid = args[++i];
        else if ((arg == u"-i" || arg == u"--install") && hasValue)
            call.command = QStringLiteral("install"), call.path = args[++i];
        else if ((arg == u"-g" || arg == u"--upgrade") && hasValue)
            call.command = QStringLiteral("upgrade"), call.path = args[++i];
        else if (arg == u"-l" || arg == u"--list-apps")
            call.command = QStringLiteral("list");
        else if (arg == u"-v" || arg == u"--version")
            call.version = true;
    }
    return call;
}

int installerUsage(bool optionSyntax, const QString& invalid)
{
    if (optionSyntax || invalid.isEmpty())
        writeOut("ERROR: No mode/command was supplied.\n");
    else
        writeOut(line(QStringLiteral("ERROR: Invalid command '%1' or missing argument.").arg(invalid)));
    if (optionSyntax)
        writeOut("Usage: ideviceinstaller OPTIONS\n\nManage apps on iOS devices.\n\n"
                 "OPTIONS:\n  -u, --udid UDID\tTarget specific device by UDID.\n"
                 "  -l, --list-apps\tList apps\n"
                 "  -i, --install ARCHIVE\tInstall app from package file specified by ARCHIVE.\n"
                 "  -g, --upgrade ARCHIVE\tUpgrade app from package file specified by ARCHIVE.\n"
                 "  -v, --version\t\tprint version information\n");
    else
        writeOut("Usage: ideviceinstaller [OPTIONS] COMMAND\n\n"
                 "COMMANDS:\n  list\t\t\tList installed apps\n"
                 "  install PATH\t\tInstall app from a package file specified by PATH.\n"
                 "  upgrade PATH\t\tUpgrade app from a package file specified by PATH.\n\n"
                 "OPTIONS:\n  -u, --udid UDID\tTarget specific device by UDID\n"
                 "  -v, --version\t\tprint version information\n");
    return 2;
}

} // namespace

int runIdeviceInstaller(const World& world, const QStringList& args)
{
    const bool optionSyntax = compareVersions(world.installerVersion, QStringLiteral("1.2")) < 0;
    const InstallerCall call = optionSyntax ? readOptionSyntax(args) : readCommandSyntax(args);
    if (call.version) {
        writeOut(line(QStringLiteral("ideviceinstaller ") + world.installerVersion));
        return 0;
    }
    if (call.command.isEmpty())
        return installerUsage(optionSyntax, call.invalid);
    const QString& udid = call.udid;
    const QString& command = call.command;
    const bool list = command == u"list";
    const QString& path = call.path;
    pause(world.timings.device);

    const Device* device = nullptr;
    if (udid.isEmpty()) {
        const QList<const Device*> connected = world.connectedDevices();
        if (connected.isEmpty()) {
            writeErr("No device found.\n");
            return 255;
        }
        device = connected.first();
    } else {
        device = world.device(udid);
        if (!device || !device->connected) {
            writeErr(line(QStringLiteral("No device found with udid %1.").arg(udid)));
            return 255;
        }
    }
    if (!device->trusted) {
        writeErr(line(QStringLiteral("Could not connect to lockdownd: %1. Exiting.").arg(lockdownText(*device))));
        return 255;
    }

    if (list) {
        QByteArray out = "CFBundleIdentifier, CFBundleShortVersionString, CFBundleDisplayName\n";
        const QJsonObject installed = state::read().value(u"installed").toObject().value(device->udid).toObject();
        for (auto it = installed.begin(); it != installed.end(); ++it) {
            const QJsonObject app = it.value().toObject();
            out += line(QStringLiteral("%1, \"%2\", \"%3\"")
                            .arg(it.key(), app.value(u"version").toString(), app.value(u"name").toString()));
        }
        writeOut(out);
        return 0;
    }

    QString problem;
    const std::optional<PackageInfo> package = inspectPackage(path, &problem);
    Subject subject;
    subject.device = device->udid;
    if (package) {
        subject.bundleID = package->bundleID;
        if (const App* app = world.app(package->bundleID))
            subject.app = app->id;
    }
    const Failure* failure = world.error({QStringLiteral("ideviceinstaller"), command}, subject);
    // A device-side error strikes while installing; anything else before copying.
    const int strikeAt = failure ? failure->at.value_or(failure->error.contains(u" failed. Got error") ? 40 : 0) : 0;
    if (failure && strikeAt <= 0)
        return injected(*failure, 255);
    if (!package) {
        writeErr(line(problem));
        return 255;
    }

    for (const QString& warning : package->warnings)
        writeErr(line(warning));
    writeOut(QStringLiteral("Copying '%1' to device... ").arg(path).toUtf8());
    pause(world.timings.copy);
    writeOut("DONE.\n");

    const bool upgrade = command == u"upgrade";
    const QString operation = upgrade ? QStringLiteral("Upgrade") : QStringLiteral("Install");
    writeOut(line(QStringLiteral("%1 '%2'").arg(upgrade ? QStringLiteral("Upgrading") : QStringLiteral("Installing"),
                                                  package->bundleID)));

    static const QList<std::pair<const char*, int>> steps = {
        {"CreatingStagingDirectory", 5}, {"ExtractingPackage", 15},        {"InspectingPackage", 20},
        {"TakingInstallLock", 20},       {"PreflightingApplication", 30},  {"InstallingEmbeddedProfile", 30},
        {"VerifyingApplication", 40},    {"CreatingContainer", 50},        {"InstallingApplication", 60},
        {"PostflightingApplication", 70}, {"SandboxingApplication", 80},   {"GeneratingApplicationMap", 90}};
    const QString error = QStringLiteral("ERROR: %1 failed. Got error ").arg(operation);
    QString previous;
    for (const auto& [status, percent] : steps) {
        pause(world.timings.installStep);
        const QString name = QLatin1String(status);
        // A line feed only when the status changes; the percentage rewrites the line.
        writeOut(((previous.isEmpty() || previous == name) ? QByteArray() : QByteArray("\n"))
                 + QStringLiteral("\r%1: %2 (%3%)").arg(operation, name).arg(percent).toUtf8());
        previous = name;

        if (failure && percent >= strikeAt)
            return injected(*failure, 128);
        if (name == u"InspectingPackage" && !package->minOS.isEmpty()
            && compareVersions(device->ios, package->minOS) < 0) {
            writeErr(line(error + QStringLiteral("\"DeviceOSVersionTooLow\" with code 0xe8008015: The system version "
                                                 "is lower than the minimum OS version specified for bundle ID %1. "
                                                 "Bundle minimum version: %2; Current system version: %3.")
                                      .arg(package->bundleID, package->minOS, device->ios)));
            return 128;
        }
        if (name == u"VerifyingApplication" && !package->signature) {
            writeErr(line(error + QStringLiteral("\"ApplicationVerificationFailed\" with code 0xe8008018: Failed to "
                                                 "verify code signature of /private/var/installd/Library/Caches/"
                                                 "com.apple.mobile.installd.staging/temp.Xa1b2C/extracted/%1 : "
                                                 "0xe8008018 (The identity used to sign the executable is no longer valid.)")
                                      .arg(package->appFolder)));
            return 128;
        }
    }
    writeOut(line(QStringLiteral("\n%1: Complete").arg(operation)));

    state::recordInstall(device->udid, package->bundleID,
                         QJsonObject{{QStringLiteral("name"), package->name},
                                     {QStringLiteral("version"), package->version},
                                     {QStringLiteral("minOS"), package->minOS},
                                     {QStringLiteral("command"), command},
                                     {QStringLiteral("date"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}});
    return 0;
}

} // namespace telmora::sim

// The release tool: everything needed to publish a build that running copies accept.
//
//   telmora-release keygen <dir>
//   telmora-release pubkey <private-key>
//   telmora-release sign <Telmora.app> <private-key>
//   telmora-release archive <Telmora.app> <out.zip>
//   telmora-release feed --build N --version V --notes TEXT --url URL --archive <zip>
//                        --key <private-key> [--platform linux] --out feed.json

#include "update/archive.h"
#include "update/crypto.h"
#include "update/feed.h"
#include "update/publish.h"
#include "update/signature.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <exception>

namespace {

using namespace telmora;

const QString keyFileName = QStringLiteral("telmora-update-key.pem");

int usage()
{
    std::fputs("usage:\n"
               "  telmora-release keygen <dir>\n"
               "  telmora-release pubkey <private-key>\n"
               "  telmora-release sign <Telmora.app> <private-key>\n"
               "  telmora-release archive <Telmora.app> <out.zip>\n"
               "  telmora-release feed --build N --version V --notes TEXT --url URL --archive <zip>\n"
               "                       --key <private-key> [--platform linux] --out <feed.json>\n",
               stderr);
    return 2;
}

int fail(const QString& message)
{
    std::fprintf(stderr, "telmora-release: %s\n", qPrintable(message));
    return 1;
}

std::optional<Ed25519PrivateKey> loadKey(const QString& path)
{
    std::optional<Ed25519PrivateKey> key = Ed25519PrivateKey::load(path);
    if (!key)
        std::fprintf(stderr, "telmora-release: %s holds no Ed25519 private key\n", qPrintable(path));
    return key;
}

void printPublicKey(const Ed25519PrivateKey& key)
{
    std::printf("%s\n", key.rawPublicKey().toBase64().constData());
}

int keygen(const QStringList& args)
{
    if (args.size() != 1)
        return usage();
    const QDir folder(args[0]);
    if (!folder.exists() && !QDir().mkpath(args[0]))
        return fail(QStringLiteral("cannot create ") + args[0]);
    const QString path = folder.filePath(keyFileName);
    if (QFile::exists(path))
        return fail(path + QStringLiteral(" exists; a release key is never overwritten"));
    const Ed25519PrivateKey key = Ed25519PrivateKey::generate();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(key.pem());
    if (!file.commit())
        return fail(file.errorString());
    std::fprintf(stderr, "private key written to %s; TelmoraUpdateKey:\n", qPrintable(path));
    printPublicKey(key);
    return 0;
}

int pubkey(const QStringList& args)
{
    if (args.size() != 1)
        return usage();
    const std::optional<Ed25519PrivateKey> key = loadKey(args[0]);
    if (!key)
        return 1;
    printPublicKey(*key);
    return 0;
}

int sign(const QStringList& args)
{
    if (args.size() != 2)
        return usage();
    const std::optional<Ed25519PrivateKey> key = loadKey(args[1]);
    if (!key)
        return 1;
    signPackage(args[0], *key);
    if (!verifyPackageSignature(args[0], key->rawPublicKey()))
        return fail(QStringLiteral("the signature just written does not verify"));
    return 0;
}

int archive(const QStringList& args)
{
    if (args.size() != 2)
        return usage();
    packFolder(args[0], args[1]);
    return 0;
}

int feed(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption build(QStringLiteral("build"), QString(), QStringLiteral("N"));
    const QCommandLineOption version(QStringLiteral("version"), QString(), QStringLiteral("V"));
    const QCommandLineOption notes(QStringLiteral("notes"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption url(QStringLiteral("url"), QString(), QStringLiteral("URL"));
    const QCommandLineOption archivePath(QStringLiteral("archive"), QString(), QStringLiteral("zip"));
    const QCommandLineOption keyPath(QStringLiteral("key"), QString(), QStringLiteral("private-key"));
    const QCommandLineOption platform(QStringLiteral("platform"), QString(), QStringLiteral("name"),
                                      QString::fromLatin1(updatePlatform));
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("feed.json"));
    parser.addOptions({build, version, notes, url, archivePath, keyPath, platform, out});
    if (!parser.parse(QStringList{QStringLiteral("telmora-release")} + arguments))
        return fail(parser.errorText());
    for (const QCommandLineOption* required : {&build, &url, &archivePath, &keyPath, &out}) {
        if (!parser.isSet(*required))
            return fail(QStringLiteral("--") + required->names().constFirst() + QStringLiteral(" is required"));
    }
    bool ok = false;
    FeedEntry entry;
    entry.build = parser.value(build).toLongLong(&ok);
    if (!ok)
        return fail(QStringLiteral("--build must be a whole number"));
    entry.version = parser.value(version);
    entry.notes = parser.value(notes);
    entry.url = parser.value(url);
    entry.platform = parser.value(platform);
    const std::optional<Ed25519PrivateKey> key = loadKey(parser.value(keyPath));
    if (!key)
        return 1;
    const QByteArray json = makeUpdateFeed(entry, parser.value(archivePath), *key);
    QSaveFile file(parser.value(out));
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit())
        return fail(file.errorString());
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();
    try {
        if (command == u"keygen")
            return keygen(args);
        if (command == u"pubkey")
            return pubkey(args);
        if (command == u"sign")
            return sign(args);
        if (command == u"archive")
            return archive(args);
        if (command == u"feed")
            return feed(args);
    } catch (const std::exception& error) {
        return fail(describeUpdateFailure(error));
    }
    return usage();
}

#include "adapter/request.h"

namespace telmora::adapter {

Request Request::parse(const QStringList& arguments)
{
    Request request;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == u"--format" && i + 1 < arguments.size()) {
            request.json = arguments[++i] == u"json";
        } else if (arg.startsWith(u"--format=")) {
            request.json = arg.mid(9) == u"json";
        } else if (arg != u"--non-interactive" && arg != u"--verbose") {
            request.args.append(arg);
        }
    }
    return request;
}

QString Request::command() const
{
    const QString first = args.value(0);
    return first == u"auth" ? first + u' ' + args.value(1) : first;
}

QString Request::value(std::initializer_list<const char*> names) const
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        for (const char* name : names) {
            const QLatin1String spelled(name);
            if (args[i] == spelled && i + 1 < args.size())
                return args[i + 1];
            if (args[i].startsWith(spelled + u'='))
                return args[i].mid(spelled.size() + 1);
        }
    }
    return {};
}

bool Request::has(const char* flag) const
{
    return args.contains(QLatin1String(flag));
}

QStringList Request::argsWithout(const char* flag) const
{
    QStringList kept = args;
    kept.removeAll(QLatin1String(flag));
    return kept;
}

} // namespace telmora::adapter

#include "ui/windowdriver.h"

#include <QGuiApplication>
#include <QHash>
#include <QJSValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QMetaEnum>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStyleHints>

#include <algorithm>
#include <functional>

// QtGui's exported entry points into QWindowSystemInterface with synchronous delivery, the
// ones QtTest drives windows with: events go through QGuiApplication as the platform's own
// do (shortcuts first, button state, enter and leave). The interface that declares them is
// private; these are the declarations QtTest's public headers carry.
Q_GUI_EXPORT void qt_handleMouseEvent(QWindow* window, const QPointF& local, const QPointF& global, Qt::MouseButtons state,
                                      Qt::MouseButton button, QEvent::Type type, Qt::KeyboardModifiers mods, int timestamp);
Q_GUI_EXPORT void qt_handleKeyEvent(QWindow* window, QEvent::Type type, int key, Qt::KeyboardModifiers mods,
                                    const QString& text = QString(), bool autorep = false, ushort count = 1);

namespace telmora {

namespace {

// A line longer than this is no command: the client is cut off rather than buffered forever.
constexpr qint64 longestCommand = 64 * 1024;

QJsonObject failure(const QString& error)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
}

QJsonObject success(QJsonObject answer = {})
{
    answer.insert(QStringLiteral("ok"), true);
    return answer;
}

bool isPopup(const QQuickItem* item)
{
    return item->inherits("QQuickPopupItem");
}

// Shown as a user sees it: visible up the whole parent chain, and with an area to see. A
// popup counts for as long as it is visible, even emptied while it closes: its scrim still
// covers the window and takes the clicks.
bool shown(const QQuickItem* item)
{
    return item->isVisible() && ((item->width() > 0 && item->height() > 0) || isPopup(item));
}

// An item's own object name; a popup's item has none, so it goes by the popup's name
// ("appMenu", "trashDialog"), shown from opening until its exit transition has ended.
QString nameOf(const QQuickItem* item)
{
    if (!item->objectName().isEmpty() || !isPopup(item) || !item->parent())
        return item->objectName();
    return item->parent()->objectName();
}

// Every shown item strictly inside `root`, in tree order. Hidden items hide what they hold;
// empty ones do not (a zero-size wrapper may place a visible button).
void visitShown(QQuickItem* root, const std::function<void(QQuickItem*)>& visit)
{
    for (QQuickItem* child : root->childItems()) {
        if (!child->isVisible())
            continue;
        if (shown(child))
            visit(child);
        visitShown(child, visit);
    }
}

std::optional<Qt::KeyboardModifiers> modifiersOf(const QJsonObject& command)
{
    static const QHash<QString, Qt::KeyboardModifier> known{{QStringLiteral("ctrl"), Qt::ControlModifier},
                                                             {QStringLiteral("shift"), Qt::ShiftModifier},
                                                             {QStringLiteral("alt"), Qt::AltModifier},
                                                             {QStringLiteral("meta"), Qt::MetaModifier}};
    const QJsonValue names = command.value(QStringLiteral("modifiers"));
    if (!names.isUndefined() && !names.isArray())
        return std::nullopt;
    Qt::KeyboardModifiers modifiers;
    for (const QJsonValue& name : names.toArray()) {
        const auto found = known.constFind(name.toString());
        if (found == known.cend())
            return std::nullopt;
        modifiers |= *found;
    }
    return modifiers;
}

// "Return", "Escape", "Down", "F", "3": the name of a Qt::Key without its "Key_".
std::optional<int> keyNamed(const QString& name)
{
    bool valid = false;
    const int key = QMetaEnum::fromType<Qt::Key>().keyToValue(("Key_" + name.toLatin1()).constData(), &valid);
    return valid && !name.isEmpty() ? std::optional<int>(key) : std::nullopt;
}

// What a printable key types when no command modifier is held, as a keyboard would report it.
QString textOf(int key, Qt::KeyboardModifiers modifiers)
{
    if (key < Qt::Key_Space || key > Qt::Key_AsciiTilde || (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return {};
    const QChar character(static_cast<char16_t>(key));
    return modifiers & Qt::ShiftModifier ? QString(character) : QString(character.toLower());
}

QJsonValue toJson(QVariant value)
{
    if (value.metaType() == QMetaType::fromType<QJSValue>())
        value = value.value<QJSValue>().toVariant();
    const QJsonValue converted = QJsonValue::fromVariant(value);
    if (converted.isNull() && value.isValid() && value.canConvert<QString>())
        return value.toString();
    return converted;
}

} // namespace

WindowDriver::WindowDriver(QQuickWindow* window, QObject* parent)
    : QObject(parent)
    , m_window(window)
{
    m_clock.start();
    connect(&m_server, &QLocalServer::newConnection, this, &WindowDriver::accept);
    connect(window, &QQuickWindow::afterAnimating, this, &WindowDriver::runWaiting);
    // A window that draws nothing (hidden, say) must not keep pointer commands waiting.
    m_frameTimeout.setSingleShot(true);
    m_frameTimeout.setInterval(1000);
    connect(&m_frameTimeout, &QTimer::timeout, this, &WindowDriver::runWaiting);
}

bool WindowDriver::listen(const QString& name)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(name);
}

void WindowDriver::accept()
{
    while (QLocalSocket* client = m_server.nextPendingConnection()) {
        connect(client, &QLocalSocket::readyRead, this, [this, client] { serve(client); });
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    }
}

void WindowDriver::serve(QLocalSocket* client)
{
    // A command may close the window or the connection: keep hold of the client safely.
    const QPointer<QLocalSocket> guarded(client);
    while (guarded && !isWaiting(guarded) && guarded->canReadLine()) {
        const QByteArray line = guarded->readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        const QJsonObject command = document.object();
        const QString name = command.value(QStringLiteral("command")).toString();
        if (document.isObject() && m_window && (name == u"click" || name == u"hover")) {
            waitForFrame(guarded, command);
            return;
        }
        reply(guarded, document.isObject() ? run(command) : failure(QStringLiteral("not a JSON object")));
    }
    if (guarded && guarded->bytesAvailable() > longestCommand) {
        reply(guarded, failure(QStringLiteral("command too long")));
        guarded->disconnectFromServer();
    }
}

// The pointer goes where the user sees things: in the window as it is drawn next, after
// pending layouts (a menu that has just opened places its entries then).
void WindowDriver::waitForFrame(QLocalSocket* client, const QJsonObject& command)
{
    m_waiting.append({client, command});
    m_window->update();
    if (!m_frameTimeout.isActive())
        m_frameTimeout.start();
}

bool WindowDriver::isWaiting(const QLocalSocket* client) const
{
    return std::any_of(m_waiting.cbegin(), m_waiting.cend(), [client](const Waiting& waiting) { return waiting.client == client; });
}

void WindowDriver::runWaiting()
{
    m_frameTimeout.stop();
    const QList<Waiting> due = std::exchange(m_waiting, {});
    for (const Waiting& waiting : due) {
        if (waiting.client)
            reply(waiting.client, run(waiting.command));
    }
    // Then the lines that came in meanwhile.
    for (const Waiting& waiting : due) {
        if (waiting.client)
            serve(waiting.client);
    }
}

void WindowDriver::reply(QLocalSocket* client, const QJsonObject& answer)
{
    if (client)
        client->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
}

QJsonObject WindowDriver::run(const QJsonObject& command)
{
    static const QHash<QString, Command> commands{
        {QStringLiteral("click"), &WindowDriver::click}, {QStringLiteral("key"), &WindowDriver::key},
        {QStringLiteral("type"), &WindowDriver::type},   {QStringLiteral("hover"), &WindowDriver::hover},
        {QStringLiteral("get"), &WindowDriver::get},     {QStringLiteral("exists"), &WindowDriver::exists},
        {QStringLiteral("names"), &WindowDriver::names}, {QStringLiteral("shot"), &WindowDriver::shot},
    };
    const QString name = command.value(QStringLiteral("command")).toString();
    const auto found = commands.constFind(name);
    if (found == commands.cend())
        return failure(QStringLiteral("unknown command \"%1\"").arg(name));
    if (!m_window)
        return failure(QStringLiteral("the window is gone"));
    return (this->*(*found))(command);
}

QQuickItem* WindowDriver::find(const QString& path) const
{
    const QStringList steps = path.split(u'/');
    if (!m_window || path.isEmpty() || steps.contains(QString()))
        return nullptr;
    QList<QQuickItem*> scopes{m_window->contentItem()};
    for (const QString& step : steps) {
        QList<QQuickItem*> inside;
        for (QQuickItem* scope : std::as_const(scopes)) {
            visitShown(scope, [&](QQuickItem* item) {
                if (nameOf(item) == step && !inside.contains(item))
                    inside.append(item);
            });
        }
        scopes = inside;
    }
    return scopes.value(0);
}

QJsonObject WindowDriver::click(const QJsonObject& command)
{
    const QString name = command.value(QStringLiteral("name")).toString();
    QQuickItem* item = find(name);
    if (!item)
        return failure(QStringLiteral("nothing shown is named \"%1\"").arg(name));
    const QString buttonName = command.value(QStringLiteral("button")).toString(QStringLiteral("left"));
    const Qt::MouseButton button = buttonName == u"left" ? Qt::LeftButton : buttonName == u"right" ? Qt::RightButton : Qt::NoButton;
    const std::optional<Qt::KeyboardModifiers> modifiers = modifiersOf(command);
    if (button == Qt::NoButton || !modifiers)
        return failure(QStringLiteral("a click needs button left or right and modifiers among ctrl, shift, alt, meta"));
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    sendMouse(QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton, *modifiers);
    sendMouse(QEvent::MouseButtonPress, centre, button, button, *modifiers);
    sendMouse(QEvent::MouseButtonRelease, centre, button, Qt::NoButton, *modifiers);
    // Two separate clicks must never pair into a double click, however fast they come.
    m_lastTimestamp += QGuiApplication::styleHints()->mouseDoubleClickInterval() + 1;
    return success();
}

QJsonObject WindowDriver::hover(const QJsonObject& command)
{
    const QString name = command.value(QStringLiteral("name")).toString();
    QQuickItem* item = find(name);
    if (!item)
        return failure(QStringLiteral("nothing shown is named \"%1\"").arg(name));
    sendMouse(QEvent::MouseMove, item->mapToScene(QPointF(item->width() / 2, item->height() / 2)), Qt::NoButton, Qt::NoButton, {});
    return success();
}

QJsonObject WindowDriver::key(const QJsonObject& command)
{
    const QString name = command.value(QStringLiteral("key")).toString();
    const std::optional<int> key = keyNamed(name);
    const std::optional<Qt::KeyboardModifiers> modifiers = modifiersOf(command);
    if (!key || !modifiers)
        return failure(QStringLiteral("no key \"%1\" with modifiers among ctrl, shift, alt, meta").arg(name));
    const QString text = textOf(*key, *modifiers);
    sendKey(QEvent::KeyPress, *key, *modifiers, text);
    sendKey(QEvent::KeyRelease, *key, *modifiers, text);
    return success();
}

QJsonObject WindowDriver::type(const QJsonObject& command)
{
    const QJsonValue text = command.value(QStringLiteral("text"));
    if (!text.isString())
        return failure(QStringLiteral("type needs a text"));
    for (const char32_t character : text.toString().toUcs4()) {
        const QString typed = QString::fromUcs4(&character, 1);
        sendKey(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
        sendKey(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, typed);
    }
    return success();
}

QJsonObject WindowDriver::get(const QJsonObject& command)
{
    const QString name = command.value(QStringLiteral("name")).toString();
    const QString property = command.value(QStringLiteral("property")).toString();
    QQuickItem* item = find(name);
    if (!item)
        return failure(QStringLiteral("nothing shown is named \"%1\"").arg(name));
    const QVariant value = property.isEmpty() ? QVariant() : item->property(property.toUtf8().constData());
    if (!value.isValid())
        return failure(QStringLiteral("\"%1\" has no property \"%2\"").arg(name, property));
    return success({{QStringLiteral("value"), toJson(value)}});
}

QJsonObject WindowDriver::exists(const QJsonObject& command)
{
    return success({{QStringLiteral("exists"), find(command.value(QStringLiteral("name")).toString()) != nullptr}});
}

QJsonObject WindowDriver::names(const QJsonObject& command)
{
    const QString prefix = command.value(QStringLiteral("prefix")).toString();
    QStringList found;
    visitShown(m_window->contentItem(), [&](QQuickItem* item) {
        const QString name = nameOf(item);
        if (!name.isEmpty() && name.startsWith(prefix) && !found.contains(name))
            found.append(name);
    });
    return success({{QStringLiteral("names"), QJsonArray::fromStringList(found)}});
}

QJsonObject WindowDriver::shot(const QJsonObject& command)
{
    const QString file = command.value(QStringLiteral("file")).toString();
    if (file.isEmpty() || !m_window->grabWindow().save(file))
        return failure(QStringLiteral("could not save the window to \"%1\"").arg(file));
    return success();
}

void WindowDriver::sendMouse(QEvent::Type type, QPointF position, Qt::MouseButton button, Qt::MouseButtons held,
                             Qt::KeyboardModifiers modifiers)
{
    qt_handleMouseEvent(m_window, position, m_window->mapToGlobal(position), held, button, type, modifiers, timestamp());
}

void WindowDriver::sendKey(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    qt_handleKeyEvent(m_window, type, key, modifiers, text);
}

int WindowDriver::timestamp()
{
    m_lastTimestamp = std::max(m_lastTimestamp + 1, static_cast<int>(m_clock.elapsed()));
    return m_lastTimestamp;
}

} // namespace telmora

#include "ui/interface.h"

#include "ui/artwork.h"
#include "ui/icons.h"
#include "ui/qmltypes.h"

#include <QQmlEngine>

namespace telmora {

Interface::Interface(Store& store, const QString& resourcesFolder, std::optional<bool> forcedDark)
    : m_store(&store)
    , m_desktop(resourcesFolder, forcedDark)
    , m_actions(&store, &m_desktop)
{
    Published<Store>::set(&store);
    Published<Desktop>::set(&m_desktop);
    Published<Actions>::set(&m_actions);
}

Interface::~Interface()
{
    Published<Actions>::withdraw(&m_actions);
    Published<Desktop>::withdraw(&m_desktop);
    Published<Store>::withdraw(m_store);
}

void Interface::prepare(QQmlEngine& engine)
{
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.addImageProvider(QStringLiteral("tint"), new IconProvider);
    engine.addImageProvider(QStringLiteral("artwork"), new ArtworkProvider);
}

QUrl Interface::mainQml()
{
    return QUrl(QStringLiteral("qrc:/qt/qml/Telmora/qml/Main.qml"));
}

} // namespace telmora

#include "ui/qmltypes.h"

namespace telmora::qml {

namespace {
Store* instance = nullptr;
}

Store* StoreSingleton::create(QQmlEngine*, QJSEngine*)
{
    Q_ASSERT(instance);
    QJSEngine::setObjectOwnership(instance, QJSEngine::CppOwnership);
    return instance;
}

void StoreSingleton::setInstance(Store* store)
{
    instance = store;
}

} // namespace telmora::qml

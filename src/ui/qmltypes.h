#pragma once

#include "model/records.h"
#include "store/store.h"
#include "store/types.h"
#include "ui/published.h"
#include "update/feed.h"

#include <QQmlEngine>

// The engine's types as QML sees them, declared here because the engine libraries know
// nothing of QML: the one Store as a singleton and the records as value types.
namespace telmora::qml {

struct StoreSingleton {
    Q_GADGET
    QML_FOREIGN(telmora::Store)
    QML_NAMED_ELEMENT(Store)
    QML_SINGLETON
public:
    // The application's Store (Interface publishes it); QML never makes a second one.
    static Store* create(QQmlEngine* engine, QJSEngine* js) { return Published<Store>::create(engine, js); }
};

struct AppItemValue {
    Q_GADGET
    QML_FOREIGN(telmora::AppItem)
    QML_VALUE_TYPE(appItem)
};
struct IPAInfoValue {
    Q_GADGET
    QML_FOREIGN(telmora::IPAInfo)
    QML_VALUE_TYPE(ipaInfo)
};
struct IPAFileValue {
    Q_GADGET
    QML_FOREIGN(telmora::IPAFile)
    QML_VALUE_TYPE(ipaFile)
};
struct AppDetailsValue {
    Q_GADGET
    QML_FOREIGN(telmora::AppDetails)
    QML_VALUE_TYPE(appDetails)
};
struct VersionMetaValue {
    Q_GADGET
    QML_FOREIGN(telmora::VersionMeta)
    QML_VALUE_TYPE(versionMeta)
};
struct VersionRowValue {
    Q_GADGET
    QML_FOREIGN(telmora::VersionRow)
    QML_VALUE_TYPE(versionRow)
};
struct LoginStepValue {
    Q_GADGET
    QML_FOREIGN(telmora::LoginStep)
    QML_VALUE_TYPE(loginStep)
};
struct JobStateValue {
    Q_GADGET
    QML_FOREIGN(telmora::JobState)
    QML_VALUE_TYPE(jobState)
};
struct JobValue {
    Q_GADGET
    QML_FOREIGN(telmora::Job)
    QML_VALUE_TYPE(job)
};
struct DeviceValue {
    Q_GADGET
    QML_FOREIGN(telmora::Device)
    QML_VALUE_TYPE(device)
};
struct AwaitingDeviceValue {
    Q_GADGET
    QML_FOREIGN(telmora::AwaitingDevice)
    QML_VALUE_TYPE(awaitingDevice)
};
struct AppSituationActionValue {
    Q_GADGET
    QML_FOREIGN(telmora::AppSituationAction)
    QML_VALUE_TYPE(appSituationAction)
};
struct AppSituationValue {
    Q_GADGET
    QML_FOREIGN(telmora::AppSituation)
    QML_VALUE_TYPE(appSituation)
};
struct UpdateOfferValue {
    Q_GADGET
    QML_FOREIGN(telmora::UpdateOffer)
    QML_VALUE_TYPE(updateOffer)
};
struct UpdatePhaseValue {
    Q_GADGET
    QML_FOREIGN(telmora::UpdatePhase)
    QML_VALUE_TYPE(updatePhase)
};

} // namespace telmora::qml

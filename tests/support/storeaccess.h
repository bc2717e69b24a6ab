#pragma once

#include "store/store.h"

namespace telmora {

// Puts a Store into a given state, and reads its private parts, without the workflows.
class StoreTestAccess {
public:
    static void setEmail(Store& store, const std::optional<QString>& email) { store.setEmail(email); }
    static void setJobs(Store& store, const QList<Job>& jobs) { store.setJobs(jobs); }
    static void setResults(Store& store, const QList<AppItem>& results) { store.setResults(results); }
    static void setPurchases(Store& store, const QList<AppItem>& purchases) { store.setPurchases(purchases); }
    static void setPurchasesError(Store& store, const std::optional<QString>& error) { store.setPurchasesError(error); }
    static void setLoginStep(Store& store, const LoginStep& step) { store.setLoginStep(step); }
    static void setUpdateOffer(Store& store, const std::optional<UpdateOffer>& offer) { store.setUpdateOffer(offer); }
    static void setUpdatePhase(Store& store, const UpdatePhase& phase) { store.setUpdatePhase(phase); }
    static void setUpdateError(Store& store, const std::optional<QString>& error) { store.setUpdateError(error); }
    static void setVersions(Store& store, const QList<VersionRow>& versions) { store.setVersions(versions); }
    static void setSavedAccounts(Store& store, const QStringList& accounts) { store.setSavedAccounts(accounts); }
    static void setFiles(Store& store, const QList<IPAFile>& files) { store.setFiles(files); }
    static void setDevices(Store& store, const QList<Device>& devices) { store.setDevices(devices); }
    static void setDetail(Store& store, const QString& id, const AppDetails& details) { store.setDetail(id, details); }
    static void setInstalling(Store& store, const std::optional<QString>& file) { store.setInstalling(file); }
    static void setInstallStatus(Store& store, const std::optional<QString>& status) { store.setInstallStatus(status); }
    static void setInstallFraction(Store& store, const std::optional<double>& fraction) { store.setInstallFraction(fraction); }
    static void setInstallQueue(Store& store, const QStringList& queue) { store.setInstallQueue(queue); }
    static void setInstallErrors(Store& store, const QMap<QString, QString>& errors) { store.setInstallErrors(errors); }
    static void setInstalled(Store& store, const QSet<QString>& installed) { store.setInstalled(installed); }

    // A device with this version, selected, so readyDevice() reports it.
    static void connectDevice(Store& store, const QString& iosVersion, const QString& udid = QStringLiteral("00008101-001A2B3C4D5E6F70"))
    {
        store.setDevices({Device{udid, QStringLiteral("iPhone"), iosVersion}});
        store.setSelectedDevice(udid);
    }

    static QHash<QString, QString>& fileApps(Store& store) { return store.m_fileApps; }
    static void loadFileApps(Store& store) { store.loadFileApps(); }
    static bool hasAfterLogin(const Store& store) { return static_cast<bool>(store.m_afterLogin); }
    static std::optional<QUuid> runningJob(const Store& store) { return store.m_runningJob; }
    static std::shared_ptr<PTYTool> runningTool(const Store& store) { return store.m_runningTool; }
    static void startDevicesPolling(Store& store) { store.startDevicesPolling(); }
};

} // namespace telmora

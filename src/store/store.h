#pragma once

#include "model/records.h"
#include "store/types.h"
#include "tools/installer.h"
#include "tools/runner.h"
#include "update/feed.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QMap>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QSet>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

namespace telmora {

class PTYTool;

// What the application package gives the Store.
struct StoreOptions {
    QString resourcesFolder;  // catalog, images, information dictionary
    QString packageFolder;    // the package the self-update replaces
    QVariantMap info;         // the information dictionary (Info.plist)
    QUrl lookupURL = QUrl(QStringLiteral("https://itunes.apple.com/lookup"));
    bool autoStart = true;    // the constructor launches the start-up sequence

    // The running package: Telmora.app, its Resources and Resources/Info.plist.
    [[nodiscard]] static StoreOptions system();
};

// The one application model: all state the interface shows, and every workflow.
// Everything runs on the interface thread; each workflow lives in its own source file
// (accounts, search, purchases, jobs, versions, devices, files, situation, update).
class Store : public QObject {
    Q_OBJECT

    // Accounts and sign-in
    Q_PROPERTY(QVariant email READ emailValue NOTIFY emailChanged)
    Q_PROPERTY(bool authChecked READ authChecked NOTIFY authCheckedChanged)
    Q_PROPERTY(bool showLogin READ showLogin WRITE setShowLogin NOTIFY showLoginChanged)
    Q_PROPERTY(telmora::LoginStep loginStep READ loginStep NOTIFY loginStepChanged)
    Q_PROPERTY(QStringList savedAccounts READ savedAccounts NOTIFY savedAccountsChanged)
    Q_PROPERTY(QString loginEmailHint READ loginEmailHint NOTIFY loginEmailHintChanged)
    Q_PROPERTY(bool addingAccount READ addingAccount NOTIFY addingAccountChanged)
    Q_PROPERTY(int activeJobCount READ activeJobCount NOTIFY activeJobCountChanged)
    // Self-update
    Q_PROPERTY(telmora::UpdatePhase updatePhase READ updatePhase NOTIFY updatePhaseChanged)
    Q_PROPERTY(QVariant updateOffer READ updateOfferValue NOTIFY updateOfferChanged)
    Q_PROPERTY(QVariant updateError READ updateErrorValue NOTIFY updateErrorChanged)
    Q_PROPERTY(bool showUpdate READ showUpdate WRITE setShowUpdate NOTIFY showUpdateChanged)
    Q_PROPERTY(bool updateIsConfigured READ updateIsConfigured CONSTANT)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    // Search and lookup
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(QVariantList results READ resultsValue NOTIFY resultsChanged)
    Q_PROPERTY(bool searching READ searching NOTIFY searchingChanged)
    Q_PROPERTY(bool searched READ searched NOTIFY searchedChanged)
    Q_PROPERTY(QVariant searchError READ searchErrorValue NOTIFY searchErrorChanged)
    Q_PROPERTY(QVariantMap details READ detailsValue NOTIFY detailsChanged)
    // Purchases
    Q_PROPERTY(QVariantList purchases READ purchasesValue NOTIFY purchasesChanged)
    Q_PROPERTY(bool purchasesLoading READ purchasesLoading NOTIFY purchasesLoadingChanged)
    Q_PROPERTY(QVariant purchasesError READ purchasesErrorValue NOTIFY purchasesErrorChanged)
    // Downloads
    Q_PROPERTY(QVariantList jobs READ jobsValue NOTIFY jobsChanged)
    // Versions
    Q_PROPERTY(QVariant versionsApp READ versionsAppValue WRITE setVersionsAppValue NOTIFY versionsAppChanged)
    Q_PROPERTY(QVariantList versions READ versionsValue NOTIFY versionsChanged)
    Q_PROPERTY(bool versionsLoading READ versionsLoading NOTIFY versionsLoadingChanged)
    Q_PROPERTY(QVariant versionsError READ versionsErrorValue NOTIFY versionsErrorChanged)
    // Files
    Q_PROPERTY(QVariantList files READ filesValue NOTIFY filesChanged)
    Q_PROPERTY(QString downloadsFolder READ downloadsFolder CONSTANT)
    // Devices and installation
    Q_PROPERTY(QVariantList devices READ devicesValue NOTIFY devicesChanged)
    Q_PROPERTY(QVariant selectedDevice READ selectedDeviceValue WRITE setSelectedDeviceValue NOTIFY selectedDeviceChanged)
    Q_PROPERTY(QVariant readyDevice READ readyDeviceValue NOTIFY readyDeviceChanged)
    Q_PROPERTY(QVariant installing READ installingValue NOTIFY installingChanged)
    Q_PROPERTY(QVariant installStatus READ installStatusValue NOTIFY installStatusChanged)
    Q_PROPERTY(QVariant installFraction READ installFractionValue NOTIFY installFractionChanged)
    Q_PROPERTY(QStringList installQueue READ installQueue NOTIFY installQueueChanged)
    Q_PROPERTY(QVariantMap installErrors READ installErrorsValue NOTIFY installErrorsChanged)
    Q_PROPERTY(QStringList installed READ installedValue NOTIFY installedChanged)
    Q_PROPERTY(QVariant awaitingDevice READ awaitingDeviceValue WRITE setAwaitingDeviceValue NOTIFY awaitingDeviceChanged)
    Q_PROPERTY(bool showDeviceHelp READ showDeviceHelp WRITE setShowDeviceHelp NOTIFY showDeviceHelpChanged)
    Q_PROPERTY(bool deviceServiceMissing READ deviceServiceMissing NOTIFY deviceServiceMissingChanged)
    // Banner
    Q_PROPERTY(QVariant notice READ noticeValue WRITE setNoticeValue NOTIFY noticeChanged)

public:
    explicit Store(StoreOptions options = StoreOptions::system(), QObject* parent = nullptr);
    ~Store() override;

    [[nodiscard]] const StoreOptions& options() const { return m_options; }

    // ---- state, start-up and folders (store.cpp) ----
    [[nodiscard]] QString downloadsFolder() const { return m_downloadsFolder; }
    [[nodiscard]] QString dataFolder() const { return m_dataFolder; }
    [[nodiscard]] QString sessionFolder() const { return m_sessionFolder; }
    [[nodiscard]] const QList<AppItem>& catalog() const { return m_catalog; }
    // The start-up sequence; the constructor launches it when options.autoStart is set.
    QCoro::Task<> start();
    QCoro::Task<> checkAuth(bool freshSession);
    [[nodiscard]] std::optional<QString> accountFolder(const QString& email) const;
    // Moves folders of the old product name into place and sweeps ".tmp-" leftovers.
    static void prepareFolders(const QString& downloads, const QString& data);

    // ---- accounts and sign-in (accounts.cpp) ----
    Q_INVOKABLE void beginLogin(const QString& emailHint, bool adding);
    Q_INVOKABLE void login(const QString& email, const QString& password);
    Q_INVOKABLE void submitCode(const QString& code);
    Q_INVOKABLE void cancelLogin();
    QCoro::Task<> switchAccount(const QString& email);
    QCoro::Task<> logout();
    bool handleAuthLoss(const QString& text);
    void refreshSavedAccounts();
    // True while downloads or an install run; then it also sets the notice.
    Q_INVOKABLE bool accountsLocked();
    [[nodiscard]] int activeJobCount() const;

    // ---- search, catalog and lookup (search.cpp) ----
    QCoro::Task<> search();
    Q_INVOKABLE void requestDetails(const QString& id);

    // ---- purchase history (purchases.cpp) ----
    QCoro::Task<> loadPurchases(bool full);

    // ---- download queue (jobs.cpp) ----
    void enqueue(const QList<AppItem>& apps, const std::optional<QString>& versionID = {},
                 const std::optional<QString>& versionLabel = {}, bool install = false);
    void getOrInstall(const QList<AppItem>& apps);
    [[nodiscard]] std::optional<Job> latestJob(const QString& appID) const;
    void cancel(const Job& job);
    void removeJob(const Job& job);
    void perform(const AppSituation::Action& action, const AppItem& app);
    QCoro::Task<> acquireLicense(const AppItem& app);

    // ---- version history (versions.cpp) ----
    void openVersions(const AppItem& app);
    QCoro::Task<> loadMoreVersionDetails(const AppItem& app, int rounds);

    // ---- devices and installation (devices.cpp) ----
    QCoro::Task<> refreshDevices();
    QCoro::Task<> install(const QString& file);
    [[nodiscard]] std::optional<Device> readyDevice() const;

    // ---- stored files (files.cpp) ----
    QCoro::Task<> refreshFiles();
    [[nodiscard]] std::optional<IPAFile> file(const QString& appID) const;
    void saveFileApps();
    QCoro::Task<> moveToTrash(const IPAFile& file);
    [[nodiscard]] const QHash<QString, QString>& fileApps() const { return m_fileApps; }

    // ---- app situation (situation.cpp) ----
    [[nodiscard]] AppSituation situation(const AppItem& app) const;
    Q_INVOKABLE QVariant situationValue(const QVariant& app) const;

    // ---- self-update (update.cpp) ----
    QCoro::Task<> checkForUpdates(bool manual);
    QCoro::Task<> installUpdate();
    [[nodiscard]] bool updateIsConfigured() const;
    [[nodiscard]] QString currentVersion() const;

    // ---- typed property access ----
    [[nodiscard]] const std::optional<QString>& email() const { return m_email; }
    [[nodiscard]] bool authChecked() const { return m_authChecked; }
    [[nodiscard]] bool showLogin() const { return m_showLogin; }
    void setShowLogin(bool show);
    [[nodiscard]] const LoginStep& loginStep() const { return m_loginStep; }
    [[nodiscard]] const QStringList& savedAccounts() const { return m_savedAccounts; }
    [[nodiscard]] const QString& loginEmailHint() const { return m_loginEmailHint; }
    [[nodiscard]] bool addingAccount() const { return m_addingAccount; }
    [[nodiscard]] const UpdatePhase& updatePhase() const { return m_updatePhase; }
    [[nodiscard]] const std::optional<UpdateOffer>& updateOffer() const { return m_updateOffer; }
    [[nodiscard]] const std::optional<QString>& updateError() const { return m_updateError; }
    [[nodiscard]] bool showUpdate() const { return m_showUpdate; }
    void setShowUpdate(bool show);
    [[nodiscard]] const QString& query() const { return m_query; }
    void setQuery(const QString& query);
    [[nodiscard]] const QList<AppItem>& results() const { return m_results; }
    [[nodiscard]] bool searching() const { return m_searching; }
    [[nodiscard]] bool searched() const { return m_searched; }
    [[nodiscard]] const std::optional<QString>& searchError() const { return m_searchError; }
    [[nodiscard]] const QHash<QString, AppDetails>& details() const { return m_details; }
    [[nodiscard]] const QList<AppItem>& purchases() const { return m_purchases; }
    [[nodiscard]] bool purchasesLoading() const { return m_purchasesLoading; }
    [[nodiscard]] const std::optional<QString>& purchasesError() const { return m_purchasesError; }
    [[nodiscard]] const QList<Job>& jobs() const { return m_jobs; }
    [[nodiscard]] const std::optional<AppItem>& versionsApp() const { return m_versionsApp; }
    void setVersionsApp(const std::optional<AppItem>& app);
    [[nodiscard]] const QList<VersionRow>& versions() const { return m_versions; }
    [[nodiscard]] bool versionsLoading() const { return m_versionsLoading; }
    [[nodiscard]] const std::optional<QString>& versionsError() const { return m_versionsError; }
    [[nodiscard]] const QList<IPAFile>& files() const { return m_files; }
    [[nodiscard]] const QList<Device>& devices() const { return m_devices; }
    [[nodiscard]] const std::optional<QString>& selectedDevice() const { return m_selectedDevice; }
    void setSelectedDevice(const std::optional<QString>& udid);
    [[nodiscard]] const std::optional<QString>& installing() const { return m_installing; }
    [[nodiscard]] const std::optional<QString>& installStatus() const { return m_installStatus; }
    [[nodiscard]] const std::optional<double>& installFraction() const { return m_installFraction; }
    [[nodiscard]] const QStringList& installQueue() const { return m_installQueue; }
    [[nodiscard]] const QMap<QString, QString>& installErrors() const { return m_installErrors; }
    [[nodiscard]] const QSet<QString>& installed() const { return m_installed; }
    [[nodiscard]] const std::optional<AwaitingDevice>& awaitingDevice() const { return m_awaitingDevice; }
    void setAwaitingDevice(const std::optional<AwaitingDevice>& awaiting);
    [[nodiscard]] bool showDeviceHelp() const { return m_showDeviceHelp; }
    void setShowDeviceHelp(bool show);
    // The system's device service (usbmuxd) does not answer: no phone can appear until it runs.
    [[nodiscard]] bool deviceServiceMissing() const { return m_deviceServiceMissing; }
    [[nodiscard]] const std::optional<QString>& notice() const { return m_notice; }
    void setNotice(const std::optional<QString>& notice);

Q_SIGNALS:
    void emailChanged();
    void authCheckedChanged();
    void showLoginChanged();
    void loginStepChanged();
    void savedAccountsChanged();
    void loginEmailHintChanged();
    void addingAccountChanged();
    void activeJobCountChanged();
    void updatePhaseChanged();
    void updateOfferChanged();
    void updateErrorChanged();
    void showUpdateChanged();
    void queryChanged();
    void resultsChanged();
    void searchingChanged();
    void searchedChanged();
    void searchErrorChanged();
    void detailsChanged();
    // The details of this one app changed (detailsChanged follows): lists update its rows only.
    void detailChanged(const QString& id);
    void purchasesChanged();
    void purchasesLoadingChanged();
    void purchasesErrorChanged();
    void jobsChanged();
    void versionsAppChanged();
    void versionsChanged();
    void versionsLoadingChanged();
    void versionsErrorChanged();
    void filesChanged();
    void devicesChanged();
    void selectedDeviceChanged();
    void readyDeviceChanged();
    void installingChanged();
    void installStatusChanged();
    void installFractionChanged();
    void installQueueChanged();
    void installErrorsChanged();
    void installedChanged();
    void awaitingDeviceChanged();
    void showDeviceHelpChanged();
    void deviceServiceMissingChanged();
    void noticeChanged();
    // Any input of situation() changed: rows re-evaluate their buttons.
    void situationsChanged();

private:
    friend class StoreTestAccess;

    // store.cpp
    QCoro::Task<ToolResult> ipatool(QStringList args);
    void loadFileApps();
    // Assigns and emits `signal` only when the value really changes.
    template<typename T, typename Signal>
    bool assign(T& field, const T& value, Signal signal)
    {
        if (field == value)
            return false;
        field = value;
        Q_EMIT(this->*signal)();
        return true;
    }
    void setEmail(const std::optional<QString>& email);
    void setAuthChecked(bool checked);
    void setLoginStep(const LoginStep& step);
    void setSavedAccounts(const QStringList& accounts);
    void setLoginEmailHint(const QString& hint);
    void setAddingAccount(bool adding);
    void setUpdatePhase(const UpdatePhase& phase);
    void setUpdateOffer(const std::optional<UpdateOffer>& offer);
    void setUpdateError(const std::optional<QString>& error);
    void setResults(const QList<AppItem>& results);
    void setSearching(bool searching);
    void setSearched(bool searched);
    void setSearchError(const std::optional<QString>& error);
    void setDetail(const QString& id, const AppDetails& details);
    void setPurchases(const QList<AppItem>& purchases);
    void setPurchasesLoading(bool loading);
    void setPurchasesError(const std::optional<QString>& error);
    void setJobs(const QList<Job>& jobs);
    void setVersions(const QList<VersionRow>& versions);
    void setVersionsLoading(bool loading);
    void setVersionsError(const std::optional<QString>& error);
    void setFiles(const QList<IPAFile>& files);
    void setDevices(const QList<Device>& devices);
    void setInstalling(const std::optional<QString>& file);
    void setInstallStatus(const std::optional<QString>& status);
    void setInstallFraction(const std::optional<double>& fraction);
    void setInstallQueue(const QStringList& queue);
    void setInstallErrors(const QMap<QString, QString>& errors);
    void setInstalled(const QSet<QString>& installed);
    void setDeviceServiceMissing(bool missing);

    // accounts.cpp
    QCoro::Task<> runLogin(QString email, QString password, quint64 attempt);
    void handleLoginOutput(const QString& text);
    QCoro::Task<> finishLogin(std::shared_ptr<PTYTool> tool, int status);
    QCoro::Task<> cleanUpCancelledLogin(std::shared_ptr<QPromise<void>> done);
    QCoro::Task<> waitForAccountWork();
    // Moves the active session files into the account's folder; the error description on failure.
    std::optional<QString> stashActiveAccount(const QString& email);
    void restoreAccount(const QString& email);
    void clearActiveFiles();

    // search.cpp
    QCoro::Task<> runLookupBatch();
    QCoro::Task<> lookup(QStringList ids);

    // purchases.cpp
    [[nodiscard]] std::optional<QString> purchasesCacheURL() const;

    // jobs.cpp
    void startNextJob();
    QCoro::Task<> run(Job job);
    [[nodiscard]] qsizetype jobIndex(const QUuid& id) const;
    // Applies `change` to the listed job with this id, if it is still listed.
    bool updateJob(const QUuid& id, const std::function<void(Job&)>& change);

    // versions.cpp
    QCoro::Task<> loadVersions(AppItem app);

    // devices.cpp
    void startDevicesPolling();
    QCoro::Task<> pollDevices();
    QCoro::Task<> installNext();
    struct InstallerResult {
        int status = -1;
        QString output;
    };
    QCoro::Task<InstallerResult> runInstaller(QString udid, bool upgrade, QString path);

    // update.cpp
    void reportFailedUpdate();
    [[nodiscard]] qint64 currentBuild() const;
    [[nodiscard]] std::optional<QUrl> updateFeed() const;

    // QML-facing conversions
    [[nodiscard]] QVariant emailValue() const { return optionalVariant(m_email); }
    [[nodiscard]] QVariant updateOfferValue() const { return optionalVariant(m_updateOffer); }
    [[nodiscard]] QVariant updateErrorValue() const { return optionalVariant(m_updateError); }
    [[nodiscard]] QVariantList resultsValue() const;
    [[nodiscard]] QVariant searchErrorValue() const { return optionalVariant(m_searchError); }
    [[nodiscard]] QVariantMap detailsValue() const;
    [[nodiscard]] QVariantList purchasesValue() const;
    [[nodiscard]] QVariant purchasesErrorValue() const { return optionalVariant(m_purchasesError); }
    [[nodiscard]] QVariantList jobsValue() const;
    [[nodiscard]] QVariant versionsAppValue() const { return optionalVariant(m_versionsApp); }
    void setVersionsAppValue(const QVariant& app);
    [[nodiscard]] QVariantList versionsValue() const;
    [[nodiscard]] QVariant versionsErrorValue() const { return optionalVariant(m_versionsError); }
    [[nodiscard]] QVariantList filesValue() const;
    [[nodiscard]] QVariantList devicesValue() const;
    [[nodiscard]] QVariant selectedDeviceValue() const { return optionalVariant(m_selectedDevice); }
    void setSelectedDeviceValue(const QVariant& udid);
    [[nodiscard]] QVariant readyDeviceValue() const { return optionalVariant(readyDevice()); }
    [[nodiscard]] QVariant installingValue() const { return optionalVariant(m_installing); }
    [[nodiscard]] QVariant installStatusValue() const { return optionalVariant(m_installStatus); }
    [[nodiscard]] QVariant installFractionValue() const { return optionalVariant(m_installFraction); }
    [[nodiscard]] QVariantMap installErrorsValue() const;
    [[nodiscard]] QStringList installedValue() const { return m_installed.values(); }
    [[nodiscard]] QVariant awaitingDeviceValue() const { return optionalVariant(m_awaitingDevice); }
    void setAwaitingDeviceValue(const QVariant& awaiting);
    [[nodiscard]] QVariant noticeValue() const { return optionalVariant(m_notice); }
    void setNoticeValue(const QVariant& notice);

    StoreOptions m_options;
    QNetworkAccessManager m_network;

    // published
    std::optional<QString> m_email;
    bool m_authChecked = false;
    bool m_showLogin = false;
    LoginStep m_loginStep;
    QStringList m_savedAccounts;
    QString m_loginEmailHint;
    bool m_addingAccount = false;
    UpdatePhase m_updatePhase;
    std::optional<UpdateOffer> m_updateOffer;
    std::optional<QString> m_updateError;
    bool m_showUpdate = false;
    QString m_query;
    QList<AppItem> m_results;
    bool m_searching = false;
    bool m_searched = false;
    std::optional<QString> m_searchError;
    QHash<QString, AppDetails> m_details;
    QList<AppItem> m_purchases;
    bool m_purchasesLoading = false;
    std::optional<QString> m_purchasesError;
    QList<Job> m_jobs;
    std::optional<AppItem> m_versionsApp;
    QList<VersionRow> m_versions;
    bool m_versionsLoading = false;
    std::optional<QString> m_versionsError;
    QList<IPAFile> m_files;
    QList<Device> m_devices;
    std::optional<QString> m_selectedDevice;
    std::optional<QString> m_installing;
    std::optional<installer::Syntax> m_installerSyntax;
    std::optional<QString> m_installStatus;
    std::optional<double> m_installFraction;
    QStringList m_installQueue;
    QMap<QString, QString> m_installErrors;
    QSet<QString> m_installed;
    std::optional<AwaitingDevice> m_awaitingDevice;
    bool m_showDeviceHelp = false;
    bool m_deviceServiceMissing = false;
    std::optional<QString> m_notice;

    // internal
    QString m_sessionFolder;
    const QStringList m_authFiles{QStringLiteral("account"), QStringLiteral("cookies"), QStringLiteral("login")};
    std::optional<QString> m_stashedAccount;
    // The clean-up of a cancelled sign-in; finished (or destroyed) when it is done.
    std::shared_ptr<QPromise<void>> m_accountWork;
    std::shared_ptr<PTYTool> m_loginTool;
    // Bumped by every login() and cancelLogin(): a late step of an older attempt must not
    // touch the sheet of a newer one.
    quint64 m_loginAttempt = 0;
    // The password and codes typed in the current attempt, kept out of published messages.
    QStringList m_loginSecrets;
    std::optional<QString> m_pendingEmail;
    std::optional<QString> m_pendingPassword;
    QString m_loginBuffer;
    QString m_loginOutput;
    QList<AppItem> m_catalog;
    std::shared_ptr<PTYTool> m_runningTool;
    std::optional<QUuid> m_runningJob;
    QHash<QString, QString> m_fileApps;
    bool m_devicesRefreshing = false;
    std::function<void()> m_afterLogin;
    QSet<QString> m_pendingLookups;
    QSet<QString> m_requestedLookups;
    bool m_lookupScheduled = false;
    QString m_downloadsFolder;
    QString m_dataFolder;
    bool m_pollingStarted = false;
};

// The sign-in transcript as one Russian message for the failed step. A typed password or
// code never reaches the message, even when the tool echoed it into its output.
[[nodiscard]] QString loginFailureMessage(const QString& transcript, const QStringList& secrets);

// A freshly listed purchase history joined with the known one (`recent`: only recent
// years were listed, so known items not listed again stay), newest first; equal dates
// keep their joined order.
[[nodiscard]] QList<AppItem> mergePurchases(const QList<AppItem>& known, const QList<AppItem>& listed, bool recent);
// Replaces the purchase-history cache file atomically; false when it could not be written.
bool writePurchasesCache(const QString& path, const QList<AppItem>& purchases);

// What the notice says while the device service does not answer.
[[nodiscard]] QString deviceServiceNotice();

// The e-mail in the output of `ipatool auth info`; absent without "success=true".
[[nodiscard]] std::optional<QString> parseEmail(const QString& authInfo);

// Total size in bytes of a folder's direct entries; 0 when it cannot be listed.
[[nodiscard]] qint64 folderSize(const QString& folder);

} // namespace telmora

#pragma once

#include "ui/published.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QQmlEngine>
#include <QVariant>

namespace telmora {

class Desktop;
class Store;

// The one way from the interface to the Store's workflows: each control calls one of these.
// A workflow started here runs to its end even when the window goes away first; whatever it
// throws becomes a Russian notice, never an exception in QML.
class Actions : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    Actions(Store* store, Desktop* desktop, QObject* parent = nullptr);

    // QML gets the application's instance (Interface publishes it).
    static Actions* create(QQmlEngine* engine, QJSEngine* js) { return Published<Actions>::create(engine, js); }

    // Search: false, and nothing starts, while the query is blank.
    Q_INVOKABLE bool submitSearch();
    Q_INVOKABLE void loadPurchases(bool full);

    // Downloads and installs
    Q_INVOKABLE void perform(const QVariant& situation, const QVariant& app);
    Q_INVOKABLE void getOrInstall(const QVariantList& apps);
    Q_INVOKABLE void retry(const QVariant& job);
    Q_INVOKABLE void cancel(const QVariant& job);
    Q_INVOKABLE void removeJob(const QVariant& job);
    Q_INVOKABLE void install(const QString& file);
    Q_INVOKABLE void refreshFiles();
    Q_INVOKABLE void moveToTrash(const QVariant& file);

    // The commands an app's menu offers now, in order (versions, redownload, reveal,
    // downloadOnly, license, appStore, copyId); and the command chosen from it.
    Q_INVOKABLE QStringList appMenu(const QVariant& app) const;
    Q_INVOKABLE void runAppCommand(const QString& command, const QVariant& app);

    // Sign-in sheet
    Q_INVOKABLE void beginLogin();
    Q_INVOKABLE bool canSignIn(const QString& email, const QString& password) const;
    Q_INVOKABLE void signIn(const QString& email, const QString& password);
    Q_INVOKABLE bool canSendCode(const QString& code) const;
    Q_INVOKABLE bool sendCode(const QString& code);
    Q_INVOKABLE void cancelLogin();

    // Account footer
    Q_INVOKABLE void switchAccount(const QString& email);
    // Refused, with the notice, while downloads or an install run.
    Q_INVOKABLE void addAccount();
    Q_INVOKABLE void logout();

    // Versions sheet: queue this version of the sheet's app (installing it when a phone is
    // ready) and close the sheet; or read the details of the next versions.
    Q_INVOKABLE void chooseVersion(const QString& versionID, const QString& label);
    Q_INVOKABLE void loadMoreVersionDetails();

    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void installUpdate();

private:
    // Runs a workflow to its end; a failure it throws becomes the notice.
    void launch(QCoro::Task<> task);
    template<typename Call>
    void guarded(Call&& call);

    QPointer<Store> m_store;
    Desktop* m_desktop;
};

} // namespace telmora

#include "ui/rootmodel.h"

#include "store/store.h"

namespace telmora {

RootModel::RootModel(QObject* parent)
    : QObject(parent)
{
}

void RootModel::setStore(Store* store)
{
    if (!m_store.relink(store))
        return;
    for (auto signal : {&Store::showLoginChanged, &Store::versionsAppChanged, &Store::showUpdateChanged,
                        &Store::readyDeviceChanged, &Store::awaitingDeviceChanged, &Store::showDeviceHelpChanged})
        m_store.on(signal, this, &RootModel::updateSheet);
    m_store.on(&Store::jobsChanged, this, &RootModel::updateDownload);
    updateSheet();
    updateDownload();
    Q_EMIT storeChanged();
}

void RootModel::updateSheet()
{
    Sheet sheet = Sheet::None;
    if (m_store) {
        // The device help is computed, not stored: a phone becoming ready closes it by itself.
        const bool deviceHelp = !m_store->readyDevice() && (m_store->awaitingDevice() || m_store->showDeviceHelp());
        if (m_store->showLogin())
            sheet = Sheet::Login;
        else if (m_store->versionsApp())
            sheet = Sheet::Versions;
        else if (m_store->showUpdate())
            sheet = Sheet::Update;
        else if (deviceHelp)
            sheet = Sheet::DeviceHelp;
    }
    if (sheet == m_sheet)
        return;
    m_sheet = sheet;
    Q_EMIT sheetChanged();
}

void RootModel::dismissSheet()
{
    if (!m_store)
        return;
    switch (m_sheet) {
    case Sheet::Login:
        // Escape is the sheet's "Отмена": a running sign-in stops and its retry is dropped.
        m_store->cancelLogin();
        break;
    case Sheet::Versions:
        m_store->setVersionsApp(std::nullopt);
        break;
    case Sheet::Update:
        m_store->setShowUpdate(false);
        break;
    case Sheet::DeviceHelp:
        m_store->setShowDeviceHelp(false);
        m_store->setAwaitingDevice(std::nullopt);
        break;
    case Sheet::None:
        break;
    }
}

void RootModel::updateDownload()
{
    bool running = false;
    QVariant fraction;
    if (m_store) {
        for (const Job& job : m_store->jobs()) {
            if (job.state.kind == Job::State::Kind::running) {
                running = true;
                fraction = job.fractionValue();
                break;
            }
        }
    }
    if (running == m_downloadRunning && fraction == m_downloadFraction)
        return;
    m_downloadRunning = running;
    m_downloadFraction = fraction;
    Q_EMIT downloadChanged();
}

} // namespace telmora

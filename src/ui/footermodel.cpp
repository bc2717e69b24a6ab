#include "ui/footermodel.h"

#include "ui/labels.h"

namespace telmora {

FooterModel::FooterModel(QObject* parent)
    : QObject(parent)
{
}

void FooterModel::setStore(Store* store)
{
    if (!m_store.relink(store))
        return;
    for (auto signal : {&Store::devicesChanged, &Store::readyDeviceChanged, &Store::selectedDeviceChanged,
                        &Store::updateOfferChanged, &Store::updatePhaseChanged, &Store::emailChanged,
                        &Store::savedAccountsChanged, &Store::authCheckedChanged})
        m_store.on(signal, this, &FooterModel::changed);
    Q_EMIT storeChanged();
    Q_EMIT changed();
}

QString FooterModel::deviceTitle() const
{
    return m_store ? labels::deviceTitle(m_store->readyDevice()) : QString();
}

QString FooterModel::deviceSubtitle() const
{
    return m_store ? labels::deviceSubtitle(m_store->readyDevice(), m_store->devices().size()) : QString();
}

bool FooterModel::deviceMenu() const
{
    return m_store && m_store->devices().size() >= 2;
}

QVariantList FooterModel::deviceEntries() const
{
    QVariantList entries;
    if (!m_store)
        return entries;
    for (const Device& device : m_store->devices()) {
        entries.append(QVariantMap{{QStringLiteral("id"), device.id},
                                   {QStringLiteral("text"), labels::deviceEntry(device)},
                                   {QStringLiteral("selected"), m_store->selectedDevice() == device.id}});
    }
    return entries;
}

bool FooterModel::updateShown() const
{
    return m_store && m_store->updateOffer() && m_store->updatePhase().kind != UpdatePhase::Idle;
}

QString FooterModel::updateTitle() const
{
    return updateShown() ? labels::updateTitle(m_store->updatePhase(), *m_store->updateOffer()) : QString();
}

bool FooterModel::updateItemShown() const
{
    return m_store && m_store->updateIsConfigured();
}

bool FooterModel::signInShown() const
{
    return m_store && !m_store->email() && m_store->savedAccounts().isEmpty() && m_store->authChecked();
}

bool FooterModel::accountShown() const
{
    return m_store && (m_store->email() || !m_store->savedAccounts().isEmpty());
}

bool FooterModel::signedIn() const
{
    return m_store && m_store->email();
}

QString FooterModel::accountLetter() const
{
    return m_store ? labels::accountLetter(m_store->email()) : QString();
}

QString FooterModel::accountTitle() const
{
    return m_store ? labels::accountTitle(m_store->email()) : QString();
}

QString FooterModel::accountSubtitle() const
{
    return m_store ? labels::accountSubtitle(m_store->savedAccounts().size()) : QString();
}

QStringList FooterModel::savedAccounts() const
{
    return m_store ? m_store->savedAccounts() : QStringList();
}

QString FooterModel::logoutEntry() const
{
    return signedIn() ? labels::logoutEntry(*m_store->email()) : QString();
}

QString FooterModel::logoutTitle() const
{
    return signedIn() ? labels::logoutTitle(*m_store->email()) : QString();
}

QString FooterModel::logoutMessage() const
{
    return m_store ? labels::logoutMessage(m_store->savedAccounts().size()) : QString();
}

} // namespace telmora

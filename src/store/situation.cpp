#include "store/store.h"

#include "model/text.h"


namespace telmora {

namespace {

QString percent(double fraction)
{
    return QString::number(wholePercent(fraction)) + u'%';
}

} // namespace

// The one place that decides an app's main button: every input is read here, so a
// change anywhere in the model changes every button of that app at once.
AppSituation Store::situation(const AppItem& app) const
{
    const std::optional<Job> job = latestJob(app.id);
    const std::optional<IPAFile> stored = file(app.id);
    const std::optional<Device> device = readyDevice();

    // The stored file's own requirement wins over the looked-up details.
    std::optional<QString> minOS;
    if (const auto found = m_details.constFind(app.id); found != m_details.cend())
        minOS = found->minOS;
    if (stored && stored->info && stored->info->minOS != u"NA")
        minOS = stored->info->minOS;
    const bool tooOld = device && minOS && compareVersions(device->iosVersion, *minOS) < 0;

    using Kind = Job::State::Kind;
    const Kind jobKind = job ? job->state.kind : Kind::done;
    AppSituation result;

    if (job && jobKind == Kind::waiting) {
        result.active = true;
        result.fraction = 0.0;
        result.status = QStringLiteral("В очереди");
        result.action = AppSituation::Action::cancel(*job);
        result.title = QStringLiteral("Отмена");
        result.isPlain = true;
        return result;
    }
    if (job && jobKind == Kind::running) {
        result.active = true;
        result.fraction = job->fraction.value_or(0.0);
        if (job->fraction)
            result.status = percent(*job->fraction);
        else if (job->detail)
            result.status = job->detail;
        else
            result.status = QStringLiteral("Подготовка…");
        result.action = AppSituation::Action::cancel(*job);
        result.title = QStringLiteral("Отмена");
        result.isPlain = true;
        return result;
    }
    if (stored && m_installing == stored->url) {
        result.active = true;
        result.fraction = m_installFraction.value_or(0.0);
        result.status = m_installStatus;
        return result;
    }
    if (stored && m_installQueue.contains(stored->url)) {
        result.active = true;
        result.fraction = 0.0;
        result.status = QStringLiteral("Ждёт установки");
        return result;
    }
    if (stored) {
        if (const auto error = m_installErrors.constFind(stored->url); error != m_installErrors.cend()) {
            result.mark = QStringLiteral("exclamationmark");
            result.error = *error;
            if (tooOld) {
                result.action = AppSituation::Action::chooseVersion();
                result.title = QStringLiteral("Выбрать версию");
                result.shortTitle = QStringLiteral("Версии");
            } else {
                result.action = AppSituation::Action::install(stored->url);
                result.title = QStringLiteral("Установить");
            }
            return result;
        }
    }
    if (job && jobKind == Kind::failed) {
        result.mark = QStringLiteral("exclamationmark");
        result.error = job->state.payload;
        result.action = AppSituation::Action::retry(*job);
        result.title = QStringLiteral("Повторить");
        return result;
    }
    if (tooOld) {
        if (stored)
            result.mark = QStringLiteral("checkmark");
        result.note = QStringLiteral("Нужна iOS ") + *minOS + QStringLiteral(", а на iPhone ") + device->iosVersion;
        result.action = AppSituation::Action::chooseVersion();
        result.title = QStringLiteral("Выбрать версию");
        result.shortTitle = QStringLiteral("Версии");
        return result;
    }
    if (!stored) {
        result.action = AppSituation::Action::get();
        result.title = device ? QStringLiteral("Установить") : QStringLiteral("Скачать");
        return result;
    }
    result.mark = QStringLiteral("checkmark");
    result.action = AppSituation::Action::install(stored->url);
    if (m_installed.contains(stored->url)) {
        result.title = QStringLiteral("Установить снова");
        result.shortTitle = QStringLiteral("Ещё раз");
        result.isPlain = true;
    } else {
        result.title = QStringLiteral("Установить");
    }
    return result;
}

} // namespace telmora

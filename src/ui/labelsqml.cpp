#include "ui/labelsqml.h"

#include "model/text.h"
#include "ui/labels.h"

namespace telmora {

QString Labels::actionTitle(const QVariant& situation, bool compact) const
{
    return situation.canConvert<AppSituation>() ? labels::actionTitle(situation.value<AppSituation>(), compact) : QString();
}

QString Labels::bulkText(int count, bool deviceReady) const
{
    return labels::bulkText(count, deviceReady);
}

QString Labels::placeholderLetter(const QString& name) const
{
    return labels::placeholderLetter(name);
}

bool Labels::isBlank(const QString& text) const
{
    return text.trimmed().isEmpty();
}

QString Labels::deviceHelpSentence(const QVariant& awaiting) const
{
    return labels::deviceHelpSentence(awaiting.canConvert<AwaitingDevice>() ? std::optional(awaiting.value<AwaitingDevice>()) : std::nullopt);
}

QString Labels::updateHeading(const QVariant& offer) const
{
    return offer.canConvert<UpdateOffer>() ? labels::updateHeading(offer.value<UpdateOffer>()) : QString();
}

QString Labels::updateNotes(const QVariant& offer) const
{
    return offer.canConvert<UpdateOffer>() ? labels::updateNotes(offer.value<UpdateOffer>()) : QString();
}

QString Labels::wholePercent(double fraction) const
{
    return QString::number(telmora::wholePercent(fraction)) + u'%';
}

} // namespace telmora

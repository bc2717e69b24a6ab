#pragma once

#include <QObject>
#include <QQmlEngine>

namespace telmora {

// The text rules QML binds directly (the rest reach it through the models' roles).
class Labels : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    Q_INVOKABLE QString actionTitle(const QVariant& situation, bool compact) const;
    Q_INVOKABLE QString bulkText(int count, bool deviceReady) const;
    Q_INVOKABLE QString placeholderLetter(const QString& name) const;
    Q_INVOKABLE bool isBlank(const QString& text) const;
    Q_INVOKABLE QString wholePercent(double fraction) const;
    // The sheets' texts, from the Store's properties as QML holds them.
    Q_INVOKABLE QString deviceHelpSentence(const QVariant& awaiting) const;
    Q_INVOKABLE QString updateHeading(const QVariant& offer) const;
    Q_INVOKABLE QString updateNotes(const QVariant& offer) const;
};

} // namespace telmora

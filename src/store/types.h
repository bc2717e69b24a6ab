#pragma once

#include "model/records.h"

#include <QMetaType>
#include <QString>
#include <QUuid>
#include <optional>

namespace telmora {

// Step of the sign-in sheet.
struct LoginStep {
    Q_GADGET
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(QString message MEMBER message)
    // The step's kind as flags, for views that cannot name the enumeration.
    Q_PROPERTY(bool isWorking READ isWorking)
    Q_PROPERTY(bool isCode READ isCode)
    Q_PROPERTY(bool isFailed READ isFailed)
public:
    enum class Kind { form, working, code, failed };
    Q_ENUM(Kind)

    Kind kind = Kind::form;
    QString message; // only for `failed`

    static LoginStep form() { return {Kind::form, {}}; }
    static LoginStep working() { return {Kind::working, {}}; }
    static LoginStep code() { return {Kind::code, {}}; }
    static LoginStep failed(const QString& message) { return {Kind::failed, message}; }

    [[nodiscard]] bool isWorking() const { return kind == Kind::working; }
    [[nodiscard]] bool isCode() const { return kind == Kind::code; }
    [[nodiscard]] bool isFailed() const { return kind == Kind::failed; }

    bool operator==(const LoginStep&) const = default;
};

// Where a download job stands (Job::State); moc cannot read gadgets nested in gadgets.
struct JobState {
    Q_GADGET
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(QString payload MEMBER payload)
public:
    enum class Kind { waiting, running, done, failed, cancelled };
    Q_ENUM(Kind)

    Kind kind = Kind::waiting;
    QString payload; // the file name when done, the message when failed

    static JobState waiting() { return {Kind::waiting, {}}; }
    static JobState running() { return {Kind::running, {}}; }
    static JobState done(const QString& fileName) { return {Kind::done, fileName}; }
    static JobState failed(const QString& message) { return {Kind::failed, message}; }
    static JobState cancelled() { return {Kind::cancelled, {}}; }

    bool operator==(const JobState&) const = default;
};

// One download of an app package. Identity: `id`.
struct Job {
    Q_GADGET
    Q_PROPERTY(QUuid id MEMBER id)
    Q_PROPERTY(telmora::AppItem app MEMBER app)
    Q_PROPERTY(QVariant versionID READ versionIDValue)
    Q_PROPERTY(QVariant versionLabel READ versionLabelValue)
    Q_PROPERTY(telmora::JobState state MEMBER state)
    Q_PROPERTY(QVariant fraction READ fractionValue)
    Q_PROPERTY(QVariant detail READ detailValue)
    Q_PROPERTY(bool install MEMBER install)
public:
    using State = JobState;

    QUuid id = QUuid::createUuid();
    AppItem app;
    std::optional<QString> versionID;
    std::optional<QString> versionLabel;
    State state;
    std::optional<double> fraction;
    std::optional<QString> detail;
    bool install = false;

    [[nodiscard]] bool isActive() const { return state.kind == State::Kind::waiting || state.kind == State::Kind::running; }

    [[nodiscard]] QVariant versionIDValue() const { return optionalVariant(versionID); }
    [[nodiscard]] QVariant versionLabelValue() const { return optionalVariant(versionLabel); }
    [[nodiscard]] QVariant fractionValue() const { return optionalVariant(fraction); }
    [[nodiscard]] QVariant detailValue() const { return optionalVariant(detail); }

    bool operator==(const Job&) const = default;
};

// A connected device as the device tools report it. Identity: `id` (the UDID).
struct Device {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString iosVersion MEMBER iosVersion)
public:
    QString id;
    QString name;
    QString iosVersion; // "?" until the device trusts this computer

    bool operator==(const Device&) const = default;
};

// The one stored package waiting for a usable device.
struct AwaitingDevice {
    Q_GADGET
    Q_PROPERTY(QString file MEMBER file)
    Q_PROPERTY(QString title MEMBER title)
public:
    QString file;
    QString title;

    bool operator==(const AwaitingDevice&) const = default;
};

// What pressing an app's main button does (AppSituation::Action).
struct AppSituationAction {
    Q_GADGET
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(QString file MEMBER file)
    Q_PROPERTY(telmora::Job job MEMBER job)
public:
    enum class Kind { install, cancel, retry, get, chooseVersion };
    Q_ENUM(Kind)

    Kind kind = Kind::get;
    QString file; // for `install`
    Job job;      // for `cancel` and `retry`

    static AppSituationAction install(const QString& file) { return {Kind::install, file, {}}; }
    static AppSituationAction cancel(const Job& job) { return {Kind::cancel, {}, job}; }
    static AppSituationAction retry(const Job& job) { return {Kind::retry, {}, job}; }
    static AppSituationAction get() { return {Kind::get, {}, {}}; }
    static AppSituationAction chooseVersion() { return {Kind::chooseVersion, {}, {}}; }

    // Case and payload: a case without a job ignores the (freshly made) job it carries.
    bool operator==(const AppSituationAction& other) const
    {
        if (kind != other.kind)
            return false;
        switch (kind) {
        case Kind::install:
            return file == other.file;
        case Kind::cancel:
        case Kind::retry:
            return job == other.job;
        default:
            return true;
        }
    }
};

// What an app's main button says and does, decided in one place.
struct AppSituation {
    Q_GADGET
    Q_PROPERTY(bool active MEMBER active)
    Q_PROPERTY(QVariant fraction READ fractionValue)
    Q_PROPERTY(QVariant mark READ markValue)
    Q_PROPERTY(QVariant status READ statusValue)
    Q_PROPERTY(QVariant note READ noteValue)
    Q_PROPERTY(QVariant error READ errorValue)
    Q_PROPERTY(QVariant action READ actionValue)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QVariant shortTitle READ shortTitleValue)
    Q_PROPERTY(bool isPlain MEMBER isPlain)
public:
    using Action = AppSituationAction;

    bool active = false;
    std::optional<double> fraction;
    std::optional<QString> mark;
    std::optional<QString> status;
    std::optional<QString> note;
    std::optional<QString> error;
    std::optional<Action> action;
    QString title;
    std::optional<QString> shortTitle;
    bool isPlain = false;

    [[nodiscard]] QVariant fractionValue() const { return optionalVariant(fraction); }
    [[nodiscard]] QVariant markValue() const { return optionalVariant(mark); }
    [[nodiscard]] QVariant statusValue() const { return optionalVariant(status); }
    [[nodiscard]] QVariant noteValue() const { return optionalVariant(note); }
    [[nodiscard]] QVariant errorValue() const { return optionalVariant(error); }
    [[nodiscard]] QVariant actionValue() const { return optionalVariant(action); }
    [[nodiscard]] QVariant shortTitleValue() const { return optionalVariant(shortTitle); }

    bool operator==(const AppSituation&) const = default;
};

} // namespace telmora

#pragma once

#include "model/records.h"
#include "store/types.h"
#include "update/feed.h"

#include <QLocale>
#include <QString>
#include <optional>

// The text rules of the screens: what a row, a job or a file says, and how lists are
// filtered. The views only bind these; nothing here touches the Store.
namespace telmora::labels {

// The seller, version, minimum iOS, price and purchase date that exist, joined by " · ";
// "ID " and the id when none does.
[[nodiscard]] QString rowSubtitle(const AppItem& app, const std::optional<AppDetails>& details);

// The main button's text: the short title in compact places when there is one.
[[nodiscard]] QString actionTitle(const AppSituation& situation, bool compact);

// A job's title: the app's name, and ", версия " with the label of a chosen version.
[[nodiscard]] QString jobTitle(const Job& job);
// A running job's line: the whole percentage and the detail that exist, or "Подготовка…".
[[nodiscard]] QString runningText(const Job& job);

// A stored file's title: the app name from its Info.plist, else the file name.
[[nodiscard]] QString fileTitle(const IPAFile& file);
// Version and platform requirement when the package was read, then the size.
[[nodiscard]] QString fileSubtitle(const IPAFile& file);

// The button for several selected apps: "Установить выбранные: N" or "Скачать выбранные: N".
[[nodiscard]] QString bulkText(int count, bool deviceReady);

// The letter an app icon shows until its artwork has loaded.
[[nodiscard]] QString placeholderLetter(const QString& name);

// The public App Store page of an app.
[[nodiscard]] QString appStoreLink(const QString& id);

// Text folded for the name filters: case-insensitive in the user's locale.
[[nodiscard]] QString filterKey(const QString& text, const QLocale& locale = QLocale());
// Whether a name (already folded) matches a filter text as typed: an empty or blank filter
// matches everything.
[[nodiscard]] bool matchesFilter(const QString& foldedName, const QString& filter, const QLocale& locale = QLocale());

// ---- account footer ----

// The device block: the ready phone's name, else "iPhone не подключён"; under it its iOS,
// or what to do when phones are connected but none is ready, or when none is.
[[nodiscard]] QString deviceTitle(const std::optional<Device>& ready);
[[nodiscard]] QString deviceSubtitle(const std::optional<Device>& ready, qsizetype connected);
// One phone in the device menu: its name and ", iOS " with its version.
[[nodiscard]] QString deviceEntry(const Device& device);

// The update button: download progress, installing, or the version on offer.
[[nodiscard]] QString updateTitle(const UpdatePhase& phase, const UpdateOffer& offer);

// The account label: the e-mail's first letter (none signed out: the view shows a symbol),
// the e-mail or "Выбрать аккаунт", and "и ещё N" for the saved accounts or "Аккаунт Apple".
[[nodiscard]] QString accountLetter(const std::optional<QString>& email);
[[nodiscard]] QString accountTitle(const std::optional<QString>& email);
[[nodiscard]] QString accountSubtitle(qsizetype saved);
// The sign-out entry and its confirmation.
[[nodiscard]] QString logoutEntry(const QString& email);
[[nodiscard]] QString logoutTitle(const QString& email);
[[nodiscard]] QString logoutMessage(qsizetype saved);

// ---- sheets ----

// The versions sheet's header line: the phone versions are picked for, or the general line.
[[nodiscard]] QString versionsHeader(const std::optional<Device>& ready);
// "iOS " with the minimum and "+", then "ID версии " and the id: the parts that exist.
[[nodiscard]] QString versionSubtitle(const VersionRow& row);
// The first row whose minimum iOS is known and not above the phone's; -1 without a phone.
[[nodiscard]] qsizetype suitableVersion(const QList<VersionRow>& rows, const std::optional<Device>& ready);

// The device help sheet's sentence, naming the app whose install waits for a phone.
[[nodiscard]] QString deviceHelpSentence(const std::optional<AwaitingDevice>& awaiting);

// The update sheet: "Версия " with the version, and the notes or "Без описания.".
[[nodiscard]] QString updateHeading(const UpdateOffer& offer);
[[nodiscard]] QString updateNotes(const UpdateOffer& offer);

} // namespace telmora::labels

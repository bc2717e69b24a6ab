#pragma once

#include "model/records.h"
#include "store/types.h"

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

} // namespace telmora::labels

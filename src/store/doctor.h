#pragma once

#include <QCoroTask>
#include <QList>
#include <QString>

// `telmora --doctor`: what a run with a real iPhone and Apple account needs, checked
// one line at a time, so a user sees what is missing before starting the window.
namespace telmora {

struct Finding {
    QString subject;    // "ideviceinstaller", "аккаунт", …
    QString detail;     // the path and version found, or what to do
    bool ok = true;
    bool needed = true; // a failed needed finding keeps the run from working
};

struct Diagnosis {
    QList<Finding> findings;

    // Everything a real run needs is there.
    [[nodiscard]] bool ready() const;
    // One line per finding: "[ок]", "[нет]" or "[--]" (not needed), the subject, the detail.
    [[nodiscard]] QString text() const;
};

// Runs the tools the way the application does (Bin::tool, toolEnvironment()).
QCoro::Task<Diagnosis> diagnose(QString sessionFolder, QString downloadsFolder);

} // namespace telmora

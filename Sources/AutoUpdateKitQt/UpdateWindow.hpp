#pragma once
// The update window: the app's name and icon, the new and the installed version, the
// release date and size, the release notes rendered from Markdown, and the three
// answers. Enter installs, Esc is later.

#include "AutoUpdateKit/AutoUpdateConsent.hpp"

#include <QCoreApplication>
#include <QDialog>

#include <functional>

namespace autoupdatekit {

class UpdateWindow : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(UpdateWindow)

public:
    // automatic: whether future updates install by themselves; setAutomatic writes it.
    UpdateWindow(const AutoUpdateCandidate& candidate, const std::string& installedVersion, bool automatic,
                 std::function<void(bool)> setAutomatic, QWidget* parent);

    // Shows the window and waits for the user's answer.
    AutoUpdateDecision ask();

    static QString titleFor(const QString& appName);
};

}  // namespace autoupdatekit

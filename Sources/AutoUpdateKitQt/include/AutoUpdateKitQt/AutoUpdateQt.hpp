#pragma once
// The Qt adapter: plugs the update window, the progress window and the messages into the
// scheduler's callbacks, and runs the checks the user asks for. Every callback runs on
// the Qt main thread. Create it on that thread after the QApplication, and keep it
// while the app runs.

#include "AutoUpdateKit/AutoUpdateAppCallbacks.hpp"
#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateScheduler.hpp"

#include <memory>

class QAction;
class QWidget;

namespace autoupdatekit {

class AutoUpdateQt {
public:
    // Installs the translation for the user's language. The windows open over the
    // given main window, which may be null.
    AutoUpdateQt(AutoUpdateConfiguration configuration, QWidget* mainWindow);
    // Stops the scheduler and a check in flight, and waits for them.
    ~AutoUpdateQt();
    AutoUpdateQt(const AutoUpdateQt&) = delete;
    AutoUpdateQt& operator=(const AutoUpdateQt&) = delete;

    // The scheduler's callbacks: the executor posts to the Qt main loop; the consent
    // shows the update window (after a desktop notification, and only once the user
    // clicks it or comes back, when the app is not active); the install shows
    // "Installing…"; quit calls QCoreApplication::quit(), so save in aboutToQuit.
    AutoUpdateAppCallbacks callbacks();
    // Starts background checks with these callbacks.
    void startScheduler(AutoUpdateCheckTiming timing = {});

    // "Check for Updates…" for the app's menu; it runs checkForUpdates().
    QAction* checkForUpdatesAction();
    // A check the user asked for: the progress window while it checks and downloads
    // (Cancel stops it and leaves no partial file), then the update window, "You're up
    // to date" or the error in plain words. A skipped release is still offered.
    void checkForUpdates();

    class State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace autoupdatekit

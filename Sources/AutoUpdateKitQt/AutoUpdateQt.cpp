#include "AutoUpdateKitQt/AutoUpdateQt.hpp"

#include "DesktopNotification.hpp"
#include "ProgressWindow.hpp"
#include "UpdateMessages.hpp"
#include "UpdateWindow.hpp"

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include <QAction>
#include <QApplication>
#include <QDebug>
#include <QEventLoop>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <thread>

namespace autoupdatekit {
namespace {

// Long enough for the user to read "Installing…" before the app quits.
constexpr double installingShownSeconds = 1.0;

QString appName() {
    return QGuiApplication::applicationDisplayName();
}

}  // namespace

class AutoUpdateQt::State {
public:
    State(AutoUpdateConfiguration app, QWidget* window) : configuration(std::move(app)), mainWindow(window), notification(&context) {
        if (translator.load(QLocale(), QStringLiteral("AutoUpdateKitQt"), QStringLiteral("_"), QStringLiteral(":/i18n"))) {
            QCoreApplication::installTranslator(&translator);
        }
    }

    ~State() {
        scheduler.reset();
        cancellation.cancel();
        if (worker.joinable()) worker.join();
        delete progress;
        QCoreApplication::removeTranslator(&translator);
    }

    // Runs the work on the Qt main thread, while this state lives.
    void post(std::function<void()> work) {
        QMetaObject::invokeMethod(&context, std::move(work), Qt::QueuedConnection);
    }

    AutoUpdateAppCallbacks directCallbacks() {
        AutoUpdateAppCallbacks callbacks;
        callbacks.log = [](const std::string& line) { qInfo().noquote() << QString::fromStdString(line); };
        callbacks.consent = [this](const AutoUpdateCandidate& candidate) { return ask(candidate); };
        callbacks.beforeInstall = [this] {
            progressWindow().showInstalling();
            QCoreApplication::processEvents();
            return std::optional<double>(installingShownSeconds);
        };
        callbacks.quit = [] { QCoreApplication::quit(); };
        return callbacks;
    }

    AutoUpdateAppCallbacks scheduledCallbacks() {
        AutoUpdateAppCallbacks callbacks = directCallbacks();
        callbacks.executor = [this](std::function<void()> work) { post(std::move(work)); };
        callbacks.consent = [this](const AutoUpdateCandidate& candidate) {
            if (QGuiApplication::applicationState() != Qt::ApplicationActive && !waitForUser(candidate)) return AutoUpdateDecision::later;
            return ask(candidate);
        };
        return callbacks;
    }

    AutoUpdateDecision ask(const AutoUpdateCandidate& candidate) {
        UpdateWindow window(
            candidate, AppVersion::ofApp(configuration.appPath).version, AutoUpdateScheduler::installsAutomatically(configuration),
            [this](bool automatically) { AutoUpdateScheduler::setInstallsAutomatically(configuration, automatically); }, mainWindow);
        return window.ask();
    }

    // A background check does not steal focus: it notifies, and goes on once the user
    // clicks the notification or comes back to the app. False when the app quit first.
    bool waitForUser(const AutoUpdateCandidate& candidate) {
        const auto& release = candidate.manifest.payload;
        QEventLoop wait;
        bool came = false;
        auto come = [&] {
            came = true;
            wait.quit();
        };
        QString summary = QCoreApplication::translate("AutoUpdateQt", "%1 %2 is ready to install")
                              .arg(QString::fromStdString(release.appName), QString::fromStdString(release.version));
        QString body = QCoreApplication::translate("AutoUpdateQt", "Open the update window to install it or to read what is new.");
        notification.show(appName(), summary, body, QCoreApplication::translate("AutoUpdateQt", "Show"), come);
        QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &wait, [&](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) come();
        });
        wait.exec();
        notification.withdraw();
        return came;
    }

    ProgressWindow& progressWindow() {
        if (!progress) progress = new ProgressWindow(appName(), [this] { cancellation.cancel(); }, mainWindow);
        progress->show();
        progress->raise();
        return *progress;
    }

    void checkForUpdates() {
        if (worker.joinable()) {
            progressWindow();
            return;
        }
        cancellation = CheckCancellation();
        progressWindow();
        AutoUpdateCheckOptions options;
        options.cancellation = cancellation;
        options.log = directCallbacks().log;
        options.progress = [this](const AutoUpdateProgress& reached) {
            post([this, reached] {
                if (progress) progress->showProgress(reached);
            });
        };
        worker = std::thread([this, options] {
            std::optional<AutoUpdateCheckResult> result;
            std::optional<AutoUpdateError> error;
            try {
                result = AutoUpdateManager(configuration).checkForUpdate(options);
            } catch (const AutoUpdateError& failure) {
                error = failure;
            }
            post([this, result, error] { finishCheck(result, error); });
        });
    }

    void finishCheck(const std::optional<AutoUpdateCheckResult>& result, std::optional<AutoUpdateError> error) {
        worker.join();
        if (progress) progress->hide();
        if (result) {
            if (const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&result->value)) {
                try {
                    AutoUpdateManager::decideAndAct(ready->candidate, configuration, directCallbacks());
                } catch (const AutoUpdateError& failure) {
                    error = failure;
                }
            } else if (const auto* upToDate = std::get_if<AutoUpdateCheckResult::UpToDate>(&result->value)) {
                UpdateMessages::showUpToDate(appName(), upToDate->currentVersion, mainWindow);
            }
        }
        if (error && error->errorCase() != AutoUpdateError::Case::cancelled) UpdateMessages::showError(*error, mainWindow);
    }

    AutoUpdateConfiguration configuration;
    QWidget* mainWindow;
    // Posted work and the windows' callbacks run while this lives.
    QObject context;
    QTranslator translator;
    DesktopNotification notification;
    QPointer<ProgressWindow> progress;
    CheckCancellation cancellation;
    std::thread worker;
    std::unique_ptr<AutoUpdateScheduler> scheduler;
};

AutoUpdateQt::AutoUpdateQt(AutoUpdateConfiguration configuration, QWidget* mainWindow)
    : state_(std::make_unique<State>(std::move(configuration), mainWindow)) {}

AutoUpdateQt::~AutoUpdateQt() = default;

AutoUpdateAppCallbacks AutoUpdateQt::callbacks() {
    return state_->scheduledCallbacks();
}

void AutoUpdateQt::startScheduler(AutoUpdateCheckTiming timing) {
    state_->scheduler = std::make_unique<AutoUpdateScheduler>(state_->configuration, callbacks(), timing);
    state_->scheduler->start();
}

QAction* AutoUpdateQt::checkForUpdatesAction() {
    auto* action = new QAction(QCoreApplication::translate("AutoUpdateQt", "Check for &Updates…"), &state_->context);
    action->setStatusTip(QCoreApplication::translate("AutoUpdateQt", "Look for a newer version of %1").arg(appName()));
    action->setMenuRole(QAction::ApplicationSpecificRole);
    QObject::connect(action, &QAction::triggered, &state_->context, [this] { checkForUpdates(); });
    return action;
}

void AutoUpdateQt::checkForUpdates() {
    state_->checkForUpdates();
}

}  // namespace autoupdatekit

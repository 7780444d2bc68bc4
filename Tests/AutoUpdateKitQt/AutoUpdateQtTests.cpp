// The Qt windows on a real X display (the tests run under xvfb-run): the example app of
// the build, installed at 1.0 with 2.0 on a local server, is found by its windows'
// titles and driven by keyboard through xdotool, as a user would.

#include "Files.hpp"
#include "UpdateCheckFixture.hpp"
#include "WaitUntil.hpp"

#include "AutoUpdateKit/AutoUpdateScheduler.hpp"
#include "AutoUpdateKit/AutoUpdateStatus.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

using namespace autoupdatekit;
using namespace testsupport;

namespace {

constexpr auto windowWait = std::chrono::seconds(30);

// Runs a command; its standard output, trimmed.
std::string outputOf(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) process.kill();
    return process.readAllStandardOutput().trimmed().toStdString();
}

// The id of the shown X window with exactly this title, waiting for it at most the
// time given; empty when none appeared. Titles are compared here, not by xdotool's
// pattern, which does not match letters beyond ASCII.
std::string windowTitled(const std::string& title, std::chrono::milliseconds wait = windowWait) {
    std::string found;
    waitUntil([&] {
        QCoreApplication::processEvents();
        const char* listing = "for w in $(xdotool search --onlyvisible --name .); do echo \"$w $(xdotool getwindowname $w)\"; done";
        std::istringstream windows(outputOf("sh", {"-c", listing}));
        for (std::string line; std::getline(windows, line);) {
            if (line.substr(line.find(' ') + 1) == title) found = line.substr(0, line.find(' '));
        }
        return !found.empty();
    }, wait, std::chrono::milliseconds(200));
    return found;
}

// Waits as waitUntil does, handling the test's own events meanwhile (the exit of a
// child process, a call on the bus). A state that cannot be read yet (the install
// swapping the app's folder) is not the one waited for.
bool settles(const std::function<bool()>& done, std::chrono::milliseconds timeout = windowWait) {
    return waitUntil([&] {
        QCoreApplication::processEvents();
        try {
            return done();
        } catch (const std::exception&) {
            return false;
        }
    }, timeout);
}

// Keys typed into the window, through the X server's own input (XTEST).
void press(const std::string& window, const std::string& keys) {
    outputOf("xdotool", {"windowfocus", "--sync", QString::fromStdString(window), "key", "--delay", "100", QString::fromStdString(keys)});
}

// A notification service of the test's own on a private session bus: it records the
// summaries of the Notify calls it gets and can send ActionInvoked back.
class NotificationService : public QDBusVirtualObject {
public:
    explicit NotificationService(const QString& address)
        : connection_(QDBusConnection::connectToBus(address, QStringLiteral("notifications"))) {
        connection_.registerService(QStringLiteral("org.freedesktop.Notifications"));
        connection_.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), this);
    }
    ~NotificationService() override { QDBusConnection::disconnectFromBus(QStringLiteral("notifications")); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QStringLiteral("Notify") || message.arguments().size() < 4) return false;
        summaries.push_back(message.arguments().at(3).toString().toStdString());
        connection.send(message.createReply(QVariantList{notificationId}));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    void invokeAction() {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
        signal << notificationId << QStringLiteral("default");
        connection_.send(signal);
    }

    static constexpr uint notificationId = 7;
    std::vector<std::string> summaries;

private:
    QDBusConnection connection_;
};

class QtWindows : public UpdateCheck {
protected:
    void SetUp() override {
        UpdateCheck::SetUp();
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "AutoUpdateKitQtTests";
            static char* argv[] = {name, nullptr};
            static QCoreApplication application(argc, argv);
        }
        ReleaseOptions installed{"1.0", "1"};
        installed.prepare = [this](const std::string& bundle) { makeQtApp(bundle); };
        app_ = makeRelease(folder_ / "installed-qt", *team_, server_.url("/unused.zip"), installed).app;
        ReleaseOptions update{"2.0", "2"};
        update.prepare = installed.prepare;
        publish(update);
    }

    void TearDown() override {
        for (auto& process : processes_) {
            process->kill();
            process->waitForFinished(10000);
        }
        UpdateCheck::TearDown();
    }

    // The example app of the build as the bundle's executable, with the local feed.
    void makeQtApp(const std::string& bundle) const {
        writeFile(bundle + "/Contents/MacOS/Sample", readFile(std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/QtDemoApp"), 0755);
        setInfoValues(bundle, {{"AutoUpdateManifestURL", server_.url("/manifest.json")},
                               {"AutoUpdateManifestPublicKey", publicKey_},
                               {"SampleMarkerPath", folder_ / "launched"}});
    }

    QProcess& launch(const QString& mode, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                     QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        auto& process = processes_.emplace_back(std::make_unique<QProcess>());
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(channels);
        process->start(QString::fromStdString(app_ + "/Contents/MacOS/Sample"), {mode});
        return *process;
    }

    AutoUpdateConfiguration appConfiguration() const {
        return AutoUpdateConfiguration(*URL::parse(server_.url("/manifest.json")), publicKey_, app_, std::nullopt, "svc");
    }
    AutoUpdateStatus status() const { return AutoUpdateStatus::of(appConfiguration()); }

    std::string app_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(QtWindows, EachButtonOfTheUpdateWindowDoesWhatItSays) {
    struct Row {
        std::string button;
        std::string keys;
        std::function<bool()> done;
    };
    // Later first: it changes nothing, so skip and install still find the update.
    std::vector<Row> rows = {
        {"Remind Me Later (Esc)", "Escape",
         [&] { return !status().skippedVersion && versionAt(app_) == "1.0" && !status().staged.empty(); }},
        {"Skip This Version (Alt+S)", "alt+s", [&] { return status().skippedVersion == "2.0-2" && versionAt(app_) == "1.0"; }},
        {"Install and Relaunch (Enter)", "Return",
         [&] { return readFileIfAny(folder_ / "launched").find("2.0\n") != std::string::npos && versionAt(app_) == "2.0"; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.button);
        QProcess& app = launch("check");
        std::string window = windowTitled("Update for Sample");
        ASSERT_FALSE(window.empty()) << "the update window did not appear";
        press(window, row.keys);
        EXPECT_TRUE(settles(row.done));
        app.kill();
        app.waitForFinished(10000);
    }
}

// Ticked, the checkbox has scheduled checks install on quit without asking; checks the
// user asks for still ask.
TEST_F(QtWindows, InstallAutomaticallyHasScheduledChecksInstallOnQuitWithoutAsking) {
    QProcess& asked = launch("check");
    std::string window = windowTitled("Update for Sample");
    ASSERT_FALSE(window.empty()) << "the update window did not appear";
    press(window, "alt+a");
    EXPECT_TRUE(settles([&] { return AutoUpdateScheduler::installsAutomatically(appConfiguration()); }));
    press(window, "Escape");
    asked.kill();
    asked.waitForFinished(10000);

    QProcess& app = launch("scheduled", QProcessEnvironment::systemEnvironment(), QProcess::MergedChannels);
    std::string log;
    ASSERT_TRUE(settles([&] {
        log += app.readAll().toStdString();
        return log.find("will be installed when the app quits") != std::string::npos;
    })) << log;
    EXPECT_TRUE(windowTitled("Update for Sample", std::chrono::milliseconds(0)).empty()) << "the scheduled check asked";
    press(windowTitled("Untitled — Sample"), "ctrl+q");
    EXPECT_TRUE(settles([&] { return versionAt(app_) == "2.0"; }));
}

TEST_F(QtWindows, CancelInTheProgressWindowLeavesNoPartialFile) {
    publishSlowly();
    QProcess& app = launch("check");
    std::string window = windowTitled("Updating Sample");
    ASSERT_FALSE(window.empty()) << "the progress window did not appear";
    ASSERT_TRUE(settles([&] { return listTree(staging()).find(".autoupdate-download-") != std::string::npos; }));
    press(window, "Escape");
    EXPECT_TRUE(settles([&] { return listTree(staging()).empty(); }));
    EXPECT_EQ(app.state(), QProcess::Running) << "a cancelled check does not quit the app";
    EXPECT_TRUE(windowTitled("Update for Sample", std::chrono::milliseconds(0)).empty());
}

// A background check with no window of the app active notifies instead of opening the
// window; clicking the notification opens it. Under a German locale, both speak German.
TEST_F(QtWindows, BackgroundCheckNotifiesAndOpensTheWindowWhenClicked) {
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(bus.waitForReadyRead(10000));
    QString address = QString::fromUtf8(bus.readLine()).trimmed();
    NotificationService service(address);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
    environment.insert("LANG", "de_DE.UTF-8");
    environment.insert("LANGUAGE", "de");
    launch("background", environment);

    EXPECT_TRUE(settles([&] { return !service.summaries.empty(); }));
    EXPECT_EQ(service.summaries, std::vector<std::string>{"Sample 2.0 ist bereit zur Installation"});
    EXPECT_TRUE(windowTitled("Aktualisierung für Sample", std::chrono::milliseconds(0)).empty()) << "the window opened unasked";
    service.invokeAction();
    EXPECT_FALSE(windowTitled("Aktualisierung für Sample").empty());
    bus.kill();
    bus.waitForFinished(10000);
}

}  // namespace

#pragma once
// A desktop notification over the session bus (org.freedesktop.Notifications) with one
// action; invoking it runs the given work. Without a notification service nothing shows,
// and the work runs when the user next activates the app instead.

#include <QObject>
#include <QString>

#include <functional>

namespace autoupdatekit {

class DesktopNotification : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotification(QObject* parent);

    // Replaces an earlier notification of this app; false when no service took it.
    bool show(const QString& appName, const QString& summary, const QString& body, const QString& actionLabel,
              std::function<void()> invoked);
    // Forgets the work, so a later click does nothing.
    void withdraw();

private slots:
    void actionInvoked(uint id, const QString& actionKey);

private:
    uint id_ = 0;
    std::function<void()> invoked_;
};

}  // namespace autoupdatekit

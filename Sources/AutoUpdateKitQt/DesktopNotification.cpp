#include "DesktopNotification.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace autoupdatekit {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");
// A service that does not answer within this long shows nothing we could wait for.
constexpr int callTimeoutMilliseconds = 2000;

}  // namespace

DesktopNotification::DesktopNotification(QObject* parent) : QObject(parent) {
    QDBusConnection::sessionBus().connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                                          SLOT(actionInvoked(uint, QString)));
}

bool DesktopNotification::show(const QString& appName, const QString& summary, const QString& body, const QString& actionLabel,
                               std::function<void()> invoked) {
    QDBusMessage notify = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    notify << appName << id_ << QString() << summary << body << QStringList{defaultAction, actionLabel} << QVariantMap() << -1;
    QDBusMessage reply = QDBusConnection::sessionBus().call(notify, QDBus::Block, callTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    id_ = reply.arguments().first().toUInt();
    invoked_ = std::move(invoked);
    return true;
}

void DesktopNotification::withdraw() {
    invoked_ = {};
}

void DesktopNotification::actionInvoked(uint id, const QString& actionKey) {
    if (id != id_ || actionKey != defaultAction || !invoked_) return;
    auto invoked = std::move(invoked_);
    invoked_ = {};
    invoked();
}

}  // namespace autoupdatekit

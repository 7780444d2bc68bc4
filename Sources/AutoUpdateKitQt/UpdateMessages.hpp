#pragma once
// The answers to a check the user asked for that found nothing to install: "You're up
// to date", or the error in plain words with its details folded away.

#include "AutoUpdateKit/AutoUpdateResults.hpp"

#include <QCoreApplication>

class QWidget;

namespace autoupdatekit {

class UpdateMessages {
    Q_DECLARE_TR_FUNCTIONS(UpdateMessages)

public:
    // Both open without waiting; the message deletes itself once closed.
    static void showUpToDate(const QString& appName, const std::string& version, QWidget* parent);
    static void showError(const AutoUpdateError& error, QWidget* parent);

    // What the error means to the user, without the technical detail.
    static QString plainWords(AutoUpdateError::Case errorCase);
    static QString title();
};

}  // namespace autoupdatekit

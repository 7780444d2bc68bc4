#pragma once
// The progress window of a check the user asked for: checking, then a bar with the
// bytes, the rate and the time left, and Cancel (or Esc); then "Installing…".

#include "AutoUpdateKit/AutoUpdateProgress.hpp"

#include <QCoreApplication>
#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace autoupdatekit {

class ProgressWindow : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(ProgressWindow)

public:
    ProgressWindow(const QString& appName, std::function<void()> cancel, QWidget* parent);

    void showProgress(const AutoUpdateProgress& progress);
    // The install is handed over: nothing is left to cancel.
    void showInstalling();

    static QString titleFor(const QString& appName);

private:
    QLabel* status_;
    QProgressBar* bar_;
    QLabel* detail_;
    QPushButton* cancel_;
};

}  // namespace autoupdatekit

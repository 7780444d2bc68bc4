#include "ProgressWindow.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace autoupdatekit {
namespace {

// The bar counts in KiB so archives past 2 GiB fit its int range.
int kibibytes(std::uint64_t bytes) {
    return static_cast<int>(std::min<std::uint64_t>(bytes / 1024, std::numeric_limits<int>::max()));
}

}  // namespace

QString ProgressWindow::titleFor(const QString& appName) {
    return tr("Updating %1").arg(appName);
}

ProgressWindow::ProgressWindow(const QString& appName, std::function<void()> cancel, QWidget* parent)
    : QDialog(parent),
      status_(new QLabel(tr("Checking for updates…"), this)),
      bar_(new QProgressBar(this)),
      detail_(new QLabel(this)),
      cancel_(new QPushButton(tr("Cancel"), this)) {
    setWindowTitle(titleFor(appName));
    setAccessibleName(windowTitle());
    status_->setAccessibleName(tr("Status"));
    bar_->setAccessibleName(tr("Download progress"));
    bar_->setRange(0, 0);
    detail_->setAccessibleName(tr("Downloaded, rate and time left"));
    cancel_->setAccessibleName(tr("Cancel"));
    cancel_->setDefault(true);
    // Esc rejects the window: the same as Cancel.
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::rejected, this, std::move(cancel));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(bar_);
    layout->addWidget(detail_);
    layout->addLayout(buttons);
    resize(420, 0);
}

void ProgressWindow::showProgress(const AutoUpdateProgress& progress) {
    QLocale locale;
    status_->setText(tr("Downloading the update…"));
    QString received = locale.formattedDataSize(static_cast<qint64>(progress.receivedBytes));
    if (!progress.totalBytes || *progress.totalBytes == 0) {
        detail_->setText(received);
        return;
    }
    bar_->setRange(0, kibibytes(*progress.totalBytes));
    bar_->setValue(kibibytes(progress.receivedBytes));
    QString total = locale.formattedDataSize(static_cast<qint64>(*progress.totalBytes));
    if (progress.bytesPerSecond <= 0) {
        detail_->setText(tr("%1 of %2").arg(received, total));
        return;
    }
    std::uint64_t left = *progress.totalBytes > progress.receivedBytes ? *progress.totalBytes - progress.receivedBytes : 0;
    int seconds = static_cast<int>(std::ceil(static_cast<double>(left) / progress.bytesPerSecond));
    QString timeLeft = seconds < 60 ? tr("%1 s left").arg(seconds) : tr("%1 min left").arg((seconds + 59) / 60);
    detail_->setText(tr("%1 of %2 (%3/s), %4")
                         .arg(received, total, locale.formattedDataSize(static_cast<qint64>(progress.bytesPerSecond)), timeLeft));
}

void ProgressWindow::showInstalling() {
    status_->setText(tr("Installing…"));
    bar_->setRange(0, 0);
    detail_->setText(tr("The app quits and opens again as the new version."));
    cancel_->setEnabled(false);
    show();
    raise();
}

}  // namespace autoupdatekit

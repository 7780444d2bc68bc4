#include "UpdateWindow.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace autoupdatekit {
namespace {

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

QPushButton* answerButton(const QString& label, const QString& accessibleName, QWidget* parent) {
    auto* button = new QPushButton(label, parent);
    button->setAccessibleName(accessibleName);
    // Only the install button answers Enter.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

QString UpdateWindow::titleFor(const QString& appName) {
    return tr("Update for %1").arg(appName);
}

UpdateWindow::UpdateWindow(const AutoUpdateCandidate& candidate, const std::string& installedVersion, bool automatic,
                           std::function<void(bool)> setAutomatic, QWidget* parent)
    : QDialog(parent) {
    const auto& release = candidate.manifest.payload;
    QString appName = text(release.appName);
    setWindowTitle(titleFor(appName));
    setAccessibleName(windowTitle());

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
    icon->setAccessibleName(tr("%1 icon").arg(appName));
    auto* heading = new QLabel(tr("<b>A new version of %1 is available.</b>").arg(appName.toHtmlEscaped()), this);
    heading->setAccessibleName(heading->text());
    auto* versions = new QLabel(tr("%1 %2 is ready to install; you have %3.").arg(appName, text(release.version), text(installedVersion)), this);
    versions->setAccessibleName(versions->text());
    QLocale locale;
    QDateTime released = QDateTime::fromSecsSinceEpoch(release.releaseDate.time_since_epoch().count());
    auto* facts = new QLabel(tr("Released %1, %2 to download.")
                                 .arg(locale.toString(released.date(), QLocale::LongFormat), locale.formattedDataSize(release.archiveSize)),
                             this);
    facts->setAccessibleName(facts->text());

    auto* notes = new QTextBrowser(this);
    notes->setOpenExternalLinks(true);
    notes->setMarkdown(text(release.releaseNotes.value_or(tr("No release notes.").toStdString())));
    notes->setAccessibleName(tr("Release notes"));

    auto* automaticBox = new QCheckBox(tr("Install future updates &automatically"), this);
    automaticBox->setChecked(automatic);
    automaticBox->setAccessibleName(tr("Install future updates automatically"));
    connect(automaticBox, &QCheckBox::toggled, this, std::move(setAutomatic));

    auto* skip = answerButton(tr("&Skip This Version"), tr("Skip This Version"), this);
    auto* later = answerButton(tr("Remind Me &Later"), tr("Remind Me Later"), this);
    auto* install = answerButton(tr("&Install and Relaunch"), tr("Install and Relaunch"), this);
    install->setDefault(true);
    connect(skip, &QPushButton::clicked, this, [this] { done(static_cast<int>(AutoUpdateDecision::skipThisVersion) + 1); });
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    connect(install, &QPushButton::clicked, this, [this] { done(static_cast<int>(AutoUpdateDecision::installNow) + 1); });

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->addWidget(heading);
    words->addWidget(versions);
    words->addWidget(facts);
    top->addLayout(words, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(skip);
    buttons->addStretch(1);
    buttons->addWidget(later);
    buttons->addWidget(install);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(notes, 1);
    layout->addWidget(automaticBox);
    layout->addLayout(buttons);
    resize(560, 400);
    install->setFocus();
}

AutoUpdateDecision UpdateWindow::ask() {
    // Esc and closing the window reject it: later. The buttons answer with decision + 1.
    int answer = exec();
    if (answer == QDialog::Rejected) return AutoUpdateDecision::later;
    return static_cast<AutoUpdateDecision>(answer - 1);
}

}  // namespace autoupdatekit

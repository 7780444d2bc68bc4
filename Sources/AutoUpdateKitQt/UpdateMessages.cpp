#include "UpdateMessages.hpp"

#include <QMessageBox>

namespace autoupdatekit {
namespace {

// details, when there are any, are folded away behind "Show Details…": for a report,
// not for reading.
void openMessage(QMessageBox::Icon icon, const QString& text, const QString& explanation, const QString& details, QWidget* parent) {
    auto* box = new QMessageBox(icon, UpdateMessages::title(), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAccessibleName(text);
    box->setInformativeText(explanation);
    box->setDetailedText(details);
    box->open();
}

}  // namespace

QString UpdateMessages::title() {
    return tr("Software Update");
}

void UpdateMessages::showUpToDate(const QString& appName, const std::string& version, QWidget* parent) {
    openMessage(QMessageBox::Information, tr("You're up to date."),
                tr("%1 %2 is the newest version available.").arg(appName, QString::fromStdString(version)), {}, parent);
}

void UpdateMessages::showError(const AutoUpdateError& error, QWidget* parent) {
    openMessage(QMessageBox::Warning, tr("The update check did not succeed."), plainWords(error.errorCase()),
                QString::fromStdString(error.logDescription()), parent);
}

QString UpdateMessages::plainWords(AutoUpdateError::Case errorCase) {
    using Case = AutoUpdateError::Case;
    switch (errorCase) {
        case Case::serverUnreachable: return tr("The update server could not be reached. Check your internet connection and try again.");
        case Case::secureConnectionFailed: return tr("A secure connection to the update server could not be made.");
        case Case::manifestRequestFailed:
        case Case::archiveDownloadFailed:
        case Case::transferFailed: return tr("The update could not be downloaded. Please try again later.");
        case Case::invalidManifest:
        case Case::invalidManifestSignature:
        case Case::manifestForAnotherApp:
        case Case::manifestForAnotherChannel:
        case Case::tooFewManifestKeys: return tr("The update server sent information that could not be trusted.");
        case Case::manifestExpired:
        case Case::manifestReplayed:
        case Case::manifestNotFresh: return tr("The update information from the server is out of date, so it was not used.");
        case Case::invalidManifestURL: return tr("The app's update address is not valid.");
        case Case::invalidManifestKeys: return tr("The app's update settings are not valid.");
        case Case::archiveHashMismatch:
        case Case::extractionFailed:
        case Case::extractedAppMissing:
        case Case::bundleIdentifierMismatch:
        case Case::invalidCodeSignature: return tr("The downloaded update is damaged or not genuine, so it was not installed.");
        case Case::unsupportedSystemVersion: return tr("This update needs a newer version of the operating system.");
        case Case::managedByPackageManager: return tr("This app is updated by your system's package manager.");
        case Case::stagingFailed: return tr("The update could not be saved on this computer. Check the free disk space.");
        case Case::cancelled: return tr("The update was cancelled.");
        case Case::unsupportedAutomaticInstallStrategy:
        case Case::privilegedHelperRequiresTeamIdentifier:
        case Case::installHandOverFailed: return tr("The update could not be installed. Nothing was changed.");
    }
    return tr("The update could not be installed. Nothing was changed.");
}

}  // namespace autoupdatekit

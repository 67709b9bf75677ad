#include "alerts/SoundFileDialog.h"

#include "core/Paths.h"

#include <QDir>
#include <QFileDialog>

#include <optional>

namespace SoundFileDialog {
namespace {
std::optional<QString> g_nextFileName;
}

void open(QWidget *parent, const QString &title, std::function<void(const QString &)> onName)
{
    if (g_nextFileName) {
        const QString name = *g_nextFileName;
        g_nextFileName.reset();
        onName(name);
        return;
    }
    auto *dialog = new QFileDialog(parent, title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // Wave files first; the player also takes what libsndfile decodes.
    dialog->setNameFilters({ QStringLiteral("Wave files (*.wav)"),
        QStringLiteral("Sound files (*.wav *.flac *.ogg *.oga *.aiff *.aif *.au)"), QStringLiteral("All files (*)") });
    const QString sounds = Paths::userDataDir();
    dialog->setDirectory(QDir(sounds).exists() ? sounds : QDir::homePath());
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, onName = std::move(onName)](int result) {
        const QStringList files = dialog->selectedFiles();
        onName(result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString());
    });
    dialog->open();
}

void setNextFileName(const QString &fileName)
{
    g_nextFileName = fileName;
}

} // namespace SoundFileDialog

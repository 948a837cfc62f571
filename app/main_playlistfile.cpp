// "Importar Lista" and "Exportar Lista": playlist files.
#include "app/TfrmMain.h"
#include "media/PlaylistFile.h"
#include "media/TitleLookup.h"

#include <QAction>
#include <QFileDialog>

std::unique_ptr<QFileDialog> TfrmMain::PlaylistFileDialog(QWidget* parent, bool save) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    dialog->setNameFilter(QStringLiteral("Lista de Reproducción (*.pls)"));
    if (save) {
        dialog->setWindowTitle(QStringLiteral("Guardar Play List"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(QStringLiteral("pls"));
        // An existing file is replaced without a question.
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    return dialog;
}

void TfrmMain::WirePlaylistFiles() {
    auto pick = [this](bool save) {
        const std::unique_ptr<QFileDialog> dialog = PlaylistFileDialog(this, save);
        return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
    };
    PickPlaylistToOpen = [pick] { return pick(false); };
    PickPlaylistToSave = [pick] { return pick(true); };
    connect(Abrir1, &QAction::triggered, this, [this] { Guard([&] { Abrir1Click(); }); });
    connect(GuardarComo1, &QAction::triggered, this,
            [this] { Guard([&] { GuardarComo1Click(); }); });
}

void TfrmMain::Abrir1Click() {
    if (m_import)
        return; // one import at a time (the menu item is disabled meanwhile)
    const QString fileName = PickPlaylistToOpen();
    if (fileName.isEmpty())
        return;
    auto import = std::make_unique<TPlaylistImport>(lstPlayList, progreso, this);
    // A file that is no playlist, or a negative count, leaves the playlist as it was.
    import->Open(fileName);
    // Addresses typed before still waiting for their titles belong to the list being
    // replaced: they are dropped with it.
    m_urlRows->Clear();
    lstPlayList->ClearItems();
    m_import = import.release();
    Abrir1->setEnabled(false);
    connect(m_import, &TPlaylistImport::Finished, this, [this](const QString& error) {
        m_import->deleteLater();
        m_import = nullptr;
        Abrir1->setEnabled(true);
        if (!error.isEmpty())
            Errors().Report(error);
    });
    m_import->Start();
}

void TfrmMain::GuardarComo1Click() {
    const QString fileName = PickPlaylistToSave();
    if (fileName.isEmpty())
        return;
    SavePlaylistFile(lstPlayList, fileName, progreso);
}

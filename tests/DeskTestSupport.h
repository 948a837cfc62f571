#pragma once
// The desk window in tests: a working folder of the test's own (where the window
// reads and writes config.ini), the window opened and shown in it, and playlist
// rows laid out as the desk lays out a local file.
#include <QSize>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class TfrmMain;

namespace desktest {

// A fresh temporary folder, made the current folder (config.ini is read from there).
// False, with a warning, when it cannot be made or entered.
[[nodiscard]] bool EnterNewWorkFolder(std::unique_ptr<QTemporaryDir>& work);

// A new window of the given size (its own when none), shown and exposed; its output
// folder is outputFolder when one is given. Any window held in w before is closed
// first.
[[nodiscard]] bool OpenDesk(std::unique_ptr<TfrmMain>& w, const QString& outputFolder = {},
                            QSize size = {});

// The tear-down: the window closed first (it writes config.ini into the working
// folder as it goes), then the folder left and removed.
void CloseDesk(std::unique_ptr<TfrmMain>& w, std::unique_ptr<QTemporaryDir>& work);

// A playlist row for a local file as the desk makes one: its name, "00:00:00", its
// path, "0" and the caption link (empty for none).
void AddRow(TfrmMain* w, const QString& path, const QString& caption = {});

} // namespace desktest

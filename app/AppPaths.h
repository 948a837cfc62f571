#pragma once
#include <QString>
#include <functional>

// The folder that holds the running program file, without a trailing separator.
QString ProgramFolder();
// The user's videos folder (XDG), or the empty text when there is none.
QString VideosFolder();

// Tells whether the desk may write files into a folder.
using TFolderProbe = std::function<bool(const QString& folder)>;

// An existing folder that this process may create files in.
bool IsWritableFolder(const QString& folder);

// The output folder of a desk whose settings name none: the program's folder when
// canWrite accepts it, otherwise the working folder (an installed desk's program
// folder belongs to the system).
QString DefaultOutputFolder(const QString& programFolder, const QString& workingFolder,
                            const TFolderProbe& canWrite);
// The same for this process: its program folder, its current folder and the probe
// chosen with SetFolderProbe (IsWritableFolder unless one was chosen).
QString DefaultOutputFolder();
// Chooses the probe DefaultOutputFolder() uses; an empty probe brings back
// IsWritableFolder.
void SetFolderProbe(TFolderProbe probe);

// The working folder of a desk started from its desktop entry: "tavoria" under the
// user's data folder ($XDG_DATA_HOME, by default ~/.local/share).
QString InstalledWorkingFolder();
// Makes folder (created with its parents when missing) the working folder of the
// process. Returns the empty text, or the reason (in Spanish) it could not.
QString EnterWorkingFolder(const QString& folder);
// Prepares a desk started from its desktop entry: enters InstalledWorkingFolder() and
// keeps the program folder out of the default output folder from then on. Returns
// the empty text, or the reason the working folder could not be entered.
QString PrepareInstalledDesk();

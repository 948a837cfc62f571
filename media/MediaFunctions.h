#pragma once
#include "media/TListView.h"

class TIniDocument;

#include <QString>
#include <QStringList>
#include <array>

// The six known media file extensions; a row's type icon is the extension's index.
extern const std::array<QString, 6> MediaExtensions;

// Index of the path's extension in MediaExtensions (ignoring case), -1 when unknown.
// The extension runs from the last "." after the last folder separator.
int MediaExtensionIndex(const QString& path);

// "hh:mm:ss" of the nearest whole second, a half going to the even neighbour;
// hours are not limited.
QString SecondsToHms(double seconds);

// The seconds of a media row: general floating-point form, up to 15 significant
// digits, the locale's decimal separator, "0" for zero.
QString SecondsText(double seconds);

// Exact length of an audio file in seconds through the audio layer; 0 when it
// cannot be measured or is under one second (also before the layer is initialised).
double MediaDurationSeconds(const QString& path);

// Appends a media row for a local file, or nothing when its extension is unknown.
// ".mp3" files are measured with MediaDurationSeconds. A path holding a line break
// raises TavoriaError (config.ini could not keep the row).
void AddMediaFile(const QString& path, TListView* list);
// The row AddMediaFile appends, detached (for AppendRows); nullptr when the
// extension is unknown.
QTreeWidgetItem* MakeMediaFileRow(const QString& path, const TListView* list);

// Measures again the ".mp3" rows of list whose length is "0" (listed before the
// audio layer could measure them): their duration and seconds sub-items are set.
void MeasureUnmeasuredRows(TListView* list);

// Throws TavoriaError when folder cannot be kept as a setting: a name with a line
// break (possible on Linux) would split its line of config.ini.
void CheckFolderName(const QString& folder);

// Sorts names in the order Windows lists a folder: letter case ignored, runs of
// digits compared by value ("clip 2" before "clip 10"). Every folder listing of the
// desk comes in this order.
void SortByName(QStringList& names);

// Appends the media files of folder (regular, readable, writable, not hidden) in
// name order. Names that AddMediaFile refuses are skipped and reported together in
// one TavoriaError after the others are added.
void AddFolderFiles(const QString& folder, TListView* list);

// Appends the names of folder's sub-folders (not those whose names begin with ".")
// in name order; a missing folder adds nothing.
void ListSubfolders(const QString& folder, QStringList& strings);

// The sub-folder of folder named name, found ignoring letter case (the exact
// spelling first); folder + name when none exists.
QString FindSubfolderIgnoringCase(const QString& folder, const QString& name);

// Removes one level of apostrophe quoting from a tab's text: a text of two or more
// characters that begins and ends with "'" loses those two, and inside, "''"
// becomes "'" while a lone "'" is dropped. Any other text is returned unchanged.
QString DequotedString(const QString& text);

// Names of a folder's entries that the explorer tree shows: sub-folders and files
// of a known media type, in name order; names that begin with "." are hidden.
QStringList ListMediaEntries(const QString& folder);

// The path of a tree node below the tree's root: the texts of its ancestors and
// its own, joined by the path separator (not doubled after a text ending in one).
QString TreeNodePath(const QTreeWidgetItem* node);

// List tables: the rows of a list view kept in a section of an INI file named after
// the list view ("totalX", "totalY", "iconindex<i>", "celda<i><j>"). The document
// forms let one open file serve several tables (the start-up and the close parse
// and write config.ini once); the file-name forms open, and for a save update, the
// file themselves.
void SaveListTable(TListView* listView, const QString& fileName);
void SaveListTable(TListView* listView, TIniDocument& ini);
void LoadListTable(TListView* listView, const QString& fileName);
void LoadListTable(TListView* listView, const TIniDocument& ini);

// A list table as read, before any row is made: plain data, which a thread other
// than the window's may read (the start-up reads config.ini while the window is
// being built).
struct ListTableRows {
    QList<QStringList> cells; // the sub-items of each row
    QList<int> images;        // the image index of each row, -1 for none
};
// The rows of the table kept in section (absent: none).
ListTableRows ReadListTable(const TIniDocument& ini, const QString& section);
// Appends rows to listView, as a load does.
void FillListTable(TListView* listView, const ListTableRows& rows);

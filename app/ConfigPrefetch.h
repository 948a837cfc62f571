#pragma once
#include "media/MediaFunctions.h"
#include "media/TIniDocument.h"

#include <QHash>
#include <QString>
#include <memory>

// config.ini as the start-up needs it: the document, for the settings, and every
// list table in it taken apart into rows.
struct ConfigLoad {
    std::unique_ptr<const TIniDocument> ini;
    // The tables, by the case-folded name of their section.
    QHash<QString, ListTableRows> tables;
    // The rows of the table named name (any letter case), handed over once; none
    // when the file holds no such table.
    ListTableRows TakeTable(const QString& name);
};

// Reads and parses fileName and takes its list tables (the sections holding a
// "totalY" key) apart. A missing file gives an empty load; an unreadable one raises
// TavoriaError. Touches no widget, so it runs on any thread.
ConfigLoad ReadConfigLoad(const QString& fileName);

// The start-up reads config.ini ahead, on a thread of its own, while the window is
// built: with ten thousand rows that read is half of the start.
namespace ConfigPrefetch {
// Starts reading fileName (as the working folder names it now) in the background;
// nothing before the application object exists.
void Start(const QString& fileName);
// The load of fileName: the one started for it, once it is done (raising its
// error), or else one read now. A load started for another file is dropped.
ConfigLoad Take(const QString& fileName);
} // namespace ConfigPrefetch

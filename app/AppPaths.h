#pragma once
#include <QString>

// The folder that holds the running program file, without a trailing separator.
QString ProgramFolder();
// The user's videos folder (XDG), or the empty text when there is none.
QString VideosFolder();

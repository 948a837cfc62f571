#pragma once

#include <QString>

// libVLC's own folder: the one that holds plugins/. TAVORIA_VLC_DIR in the
// environment overrides the search. Empty when no installation is found.
QString VlcInstallDir();

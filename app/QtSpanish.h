#pragma once
class QCoreApplication;

// Qt's own texts (file dialogs, standard buttons, the edits' context menus) in
// Spanish, as the desk's own, whatever the system's language: Qt's Spanish
// translations are installed on app. The locale (numbers, dates) stays the
// system's. Returns false when Qt's translations are not installed (the texts then
// stay in English).
bool InstallQtSpanish(QCoreApplication* app);

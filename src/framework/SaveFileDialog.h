#pragma once
// The save-file prompt in the operators' language throughout. The toolkit's file dialog
// takes its words from the translation the host loads, but it writes sizes and dates in the
// system's locale and calls a folder "Folder"; here its columns are Chinese as well,
// whatever language the system runs in.

#include <QString>

class QWidget;

// Asks for a file to save to, starting at `fileName`: true with `fileName` set when chosen.
bool AskSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                     QString& fileName);

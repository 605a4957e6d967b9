#pragma once
// The toolkit's own Chinese texts (standard buttons, the file dialog), so that the set-up
// tool's dialogs speak the operators' language like the module's own texts.

class QCoreApplication;

// Installs the toolkit's Chinese translations on the application; false when they are not
// installed on this system.
bool LoadQtChinese(QCoreApplication& app);

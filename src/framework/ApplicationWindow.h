#pragma once
// The module-wide application window: the host's top-level window that the module's
// dialogs belong to. It is set from the first form attached to the host.

class QWidget;

QWidget* ApplicationWindow();
void SetApplicationWindow(QWidget* window);

#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

// The save-file dialog component of the options window. It asks for a file
// name modally over all of the program's windows. It adds no extension of its
// own and never asks before a file is replaced.
class TSaveDialog {
public:
    QString Title;
    QString Filter;     // "Label|pattern", as the layout gives it
    int FilterIndex = 1;
    QString DefaultExt; // empty: no extension is added
    QString InitialDir; // empty: the platform chooses the folder
    // Empty at first; after an accepted dialog, the full name it returned.
    QString FileName;
    // The window whose monitor the dialog opens on; none: the primary monitor.
    QPointer<const QWidget> Anchor;

    // Shows the dialog with FileName as the initial name. True when a name
    // was accepted (FileName then holds it); false when it was cancelled,
    // closed or failed (FileName is left as it was).
    bool Execute();
};

#pragma once

#include "ui_mainwindowform.h"

class QMainWindow;

// The main window's widget tree. Every widget, layout and spacer is a public,
// non-owning member named after its object name; the objects themselves
// belong to their parents. The tree is described in mainwindowform.ui, whose
// class name "MainWindow" is also the translation context of the captions.
class MainWindowForm : public Ui_MainWindow
{
public:
    // Builds the whole tree on the window, sets the captions and shows the
    // first page.
    void setup(QMainWindow *window);

    // Sets every caption again, tab captions included; safe to repeat.
    void retranslate(QMainWindow *window);

private:
    // Metrics that let every caption fit the window's fixed size.
    void FitFixedLayout();
};

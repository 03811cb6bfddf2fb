#pragma once

#include "LibraryPage.h"
#include "LibraryView.h"

#include <QComboBox>
#include <QTabWidget>

// The parts of the main window and its library page that tests reach, by their object names.
inline QTabWidget *Pages(QWidget &Form) {
    return Form.findChild<QTabWidget *>("FPages");
}
inline TLibraryPage &Page(QWidget &Form) {
    return *Form.findChild<TLibraryPage *>();
}
inline QComboBox *PlayOnBox(QWidget &Form) {
    return Form.findChild<QComboBox *>("FPlayOnBox");
}
inline TLibraryView *LibraryView(QWidget &Form) {
    return Form.findChild<TLibraryView *>("FLibraryView");
}

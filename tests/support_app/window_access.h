// The real window's widgets by their object names (the names the .ui gives them), as the
// window suites and the stories drive them.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QTabWidget>
#include <memory>
#include <stdexcept>
#include <string>

#include "controller.h"

class window_access {
protected:
    std::unique_ptr<controller> win;

    template <typename T = QWidget>
    T* find(const char* name) const
    {
        T* w = win->mainwindow()->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            throw std::runtime_error(std::string("no widget named ") + name);
        return w;
    }
    QAbstractButton* button(const char* name) const { return find<QAbstractButton>(name); }
    QString text(const char* name) const { return find<QLabel>(name)->text(); }
    bool enabled(const char* name) const { return find(name)->isEnabled(); }
    QString current_tab() const { return find<QTabWidget>("tabview")->currentWidget()->objectName(); }
};

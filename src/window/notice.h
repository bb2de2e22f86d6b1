#pragma once
// What a command leaves for the window to show when it is done.

#include <utility>

#include <QString>

namespace melodex {

// One plain message box with an OK button.
struct Notice {
    explicit Notice(QString message, QString title = {})
        : text(std::move(message))
        , caption(std::move(title))
    {
    }
    QString text;
    QString caption; // empty: the program's name
};

} // namespace melodex

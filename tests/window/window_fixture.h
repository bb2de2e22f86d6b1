#pragma once
// A fresh window per test, its library calls counted and its boxes scripted.

#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "scripted_dialogs.h"
#include "window/frmMain1.h"

namespace melodex::test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = makeWindow(); }
    void TearDown() override
    {
        window.reset();
        EXPECT_TRUE(dialogs.done()) << "a scripted answer was never asked for";
    }

    std::unique_ptr<frmMain1> makeWindow()
    {
        TrackLibrary library;
        library.init = [this] { ++inits; return 1; };
        library.free = [this] { ++frees; return 1; };
        return std::make_unique<frmMain1>(dialogs, library);
    }

    template <typename T>
    T* find(const char* name) const
    {
        T* child = window->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(child, nullptr) << "no control named " << name;
        return child;
    }

    ScriptedDialogs dialogs;
    int inits = 0;
    int frees = 0;
    std::unique_ptr<frmMain1> window;
};

// The window on the screen and active, for keys and focus.
class ShownWindowTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
};

// Types text as key presses; QTest::keyClicks knows only ASCII.
inline void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

inline QColor sampleColour(const QLabel* sample) { return sample->palette().color(QPalette::Window); }

} // namespace melodex::test

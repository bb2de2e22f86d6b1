#pragma once
// A fresh window per test, its library calls counted and its boxes scripted.

#include <memory>

#include <QAction>
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
#include "window/widgets.h"

namespace melodex::test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = makeWindow(); }
    void TearDown() override
    {
        window.reset();
        EXPECT_TRUE(dialogs.done()) << "a scripted answer was never asked for";
    }

    std::unique_ptr<frmMain1> makeWindow(TrackLibrary library = {})
    {
        library.init = [this] {
            ++inits;
            return 1;
        };
        library.free = [this] {
            ++frees;
            return 1;
        };
        return std::make_unique<frmMain1>(dialogs, library);
    }

    // A control of the window by its fixed name ("Combo1(3)").
    template <typename T>
    T* find(const QString& name) const
    {
        T* child = window->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << "no control named " << name.toStdString();
        return child;
    }
    template <typename T>
    T* find(const char* name) const
    {
        return find<T>(QString::fromUtf8(name));
    }
    template <typename T>
    T* find(const char* array, int index) const
    {
        return find<T>(QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(index));
    }

    QComboBox* combo(int k) const { return find<QComboBox>("Combo1", k); }
    QComboBox* colorBox(int r) const { return find<QComboBox>("ColorBox1", r); }
    QLabel* colorSample(int r) const { return find<QLabel>("ColorSample1", r); }
    QRadioButton* option(int i) const { return find<QRadioButton>("Option1", i); }
    QListWidget* folders() const { return find<QListWidget>("Dir1"); }
    QListWidget* files() const { return find<QListWidget>("File1"); }
    QString fileCount() const { return find<QLineEdit>("strFileCount")->text(); }

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

// The rows of a list as the user reads them, without their indentation.
inline QStringList itemTexts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text().trimmed();
    return texts;
}

inline QColor sampleColour(const QLabel* sample) { return sample->palette().color(QPalette::Window); }

} // namespace melodex::test

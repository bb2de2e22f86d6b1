// The window's wiring: focus, keys, exit, colours, option controls.

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "window_fixture.h"

namespace melodex::test {
namespace {

QString name(const QWidget* w) { return w ? w->objectName() : QStringLiteral("(none)"); }

TEST_F(ShownWindowTest, TabRunsThroughTheControlsInOrderAndWraps)
{
    const QStringList expected = {
        "Dir1",
        "File1",
        "Combo1(0)",
        "Combo1(1)",
        "Combo1(2)",
        "Combo1(3)",
        "Combo1(4)",
        "Combo1(5)",
        "Combo1(6)",
        "Combo1(7)",
        "Combo1(8)",
        "Combo1(9)",
        "Combo1(10)",
        "strTitle1",
        "strEnabled1",
        "VScroll1",
        "strOutFile1",
        "cmdMakeList1",
        "strFileCount",
        "Option1(0)",
        "ColorBox1(0)",
        "ColorBox1(1)",
        "ColorBox1(2)",
        "ColorBox1(3)",
        "cmdExit1",
        "strBorder1",
        "VScroll2",
        "Drive1",
    };
    find<QWidget>("Drive1")->setFocus();
    ASSERT_EQ(name(QApplication::focusWidget()), QStringLiteral("Drive1"));
    QStringList visited;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // An editable combo box hands the focus to its edit field.
        if (focus && focus->parentWidget() && qobject_cast<QComboBox*>(focus->parentWidget()))
            focus = focus->parentWidget();
        visited << name(focus);
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(ShownWindowTest, EnterAndEscapePressNoButton)
{
    for (const char* name : { "strTitle1", "strOutFile1", "Combo1(0)", "ColorBox1(3)" }) {
        find<QWidget>(name)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(frees, 0);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ShownWindowTest, AltEPressesTheExitButton)
{
    find<QWidget>("strTitle1")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::AltModifier);
    // The button shows itself pressed for a moment before it clicks.
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 2000));
    EXPECT_EQ(frees, 1);
    EXPECT_TRUE(dialogs.shown.empty()) << "the exit button asks nothing";
}

TEST_F(ShownWindowTest, ExitMenuAsksAndCancelKeepsTheWindow)
{
    dialogs.answerMessage(MessageResult::Cancel);
    find<QAction>("m_exit")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("終了しますか？"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("終了確認"));
    EXPECT_EQ(dialogs.shown[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Question);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(frees, 0);

    dialogs.answerMessage(MessageResult::Ok);
    find<QAction>("m_exit")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(frees, 1);
}

TEST_F(WindowTest, ReleasesTheLibraryOnceOnEveryWayOut)
{
    window->show();
    window->close(); // the close box
    EXPECT_EQ(frees, 1);
    window.reset();
    EXPECT_EQ(frees, 1) << "released twice";

    window = makeWindow(); // destroyed without a close request
    window.reset();
    EXPECT_EQ(frees, 2);
    EXPECT_EQ(inits, 2);
}

// Colour chooser r, its sample, and the palette index it is set to.
struct ColourPick {
    int chooser;
    int index;
    const char* code;
    QColor colour;
};

TEST_F(WindowTest, PickingAColourPaintsOnlyItsOwnSample)
{
    const ColourPick picks[] = {
        { 2, 19, "173216230", QColor(173, 216, 230) }, // LIGHTBLUE
        { 0, 11, "034139034", QColor(34, 139, 34) }, // FORESTGREEN: leading zeros are numbers
        { 3, 9, "255000147", QColor(255, 0, 147) }, // DEEPPINK
        { 1, 0, "000000000", QColor(0, 0, 0) }, // BLACK, the first item
        { 1, 29, "255255000", QColor(255, 255, 0) }, // YELLOW, the last
    };
    for (const auto& pick : picks) {
        std::array<QColor, 4> before;
        for (int r = 0; r < 4; ++r)
            before[r] = sampleColour(colorSample(r));
        colorBox(pick.chooser)->setCurrentIndex(pick.index); // as a pick from the list does
        EXPECT_EQ(window->colorCode(), QString::fromLatin1(pick.code));
        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(sampleColour(colorSample(r)), r == pick.chooser ? pick.colour : before[r])
                << "chooser " << pick.chooser << ", sample " << r;
    }
}

TEST_F(WindowTest, TypedTextMatchesNoItemAndLeavesTheSample)
{
    QComboBox* box = colorBox(3);
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("#ff00ff"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(listIndex(box), -1);
    EXPECT_EQ(box->count(), 30) << "typing added an item";
    EXPECT_EQ(sampleColour(colorSample(3)), QColor(255, 0, 0));
    const OptionSet typed = window->optionSetFromControls();
    EXPECT_EQ(typed.colorIndex[3], -1);
    EXPECT_EQ(typed.colorText[3], "#ff00ff");

    // Typing an item's exact text names that item; another letter case does not.
    box->setEditText(QStringLiteral("LIGHTBLUE"));
    EXPECT_EQ(listIndex(box), 19);
    box->setEditText(QStringLiteral("LightBlue"));
    EXPECT_EQ(listIndex(box), -1);

    QComboBox* column = combo(4);
    column->lineEdit()->clear();
    typeText(column->lineEdit(), QStringLiteral("作成日"));
    QTest::keyClick(column->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(listIndex(column), -1);
    EXPECT_EQ(column->count(), 12);
    EXPECT_EQ(window->optionSetFromControls().columns[4], -1);
}

TEST_F(WindowTest, NoSelectionLeavesTheSampleAsItWas)
{
    QComboBox* box = colorBox(1);
    box->setCurrentIndex(19);
    box->setCurrentIndex(-1);
    box->setEditText(QString());
    emit box->activated(-1); // raised again with nothing selected: still no failure
    EXPECT_EQ(listIndex(box), -1);
    EXPECT_EQ(sampleColour(colorSample(1)), QColor(173, 216, 230));
}

TEST_F(WindowTest, ScrollBarsRunInTheirRangesAndWriteTheirBoxes)
{
    struct Bar {
        QScrollBar* bar;
        QLineEdit* box;
        int min, max;
    };
    for (const Bar& b : { Bar { find<QScrollBar>("VScroll1"), find<QLineEdit>("strEnabled1"), 1, 11 },
             Bar { find<QScrollBar>("VScroll2"), find<QLineEdit>("strBorder1"), 0, 15 } }) {
        EXPECT_EQ(b.bar->singleStep(), 1);
        EXPECT_EQ(b.bar->pageStep(), 1);
        b.bar->setValue(b.min);
        EXPECT_EQ(b.box->text(), QString::number(b.min));
        b.bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        EXPECT_EQ(b.bar->value(), b.min) << "went below its minimum";
        b.bar->setValue(b.max);
        EXPECT_EQ(b.box->text(), QString::number(b.max)) << "two digits, no space";
        b.bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        EXPECT_EQ(b.bar->value(), b.max) << "went past its maximum";
        b.bar->setValue(200);
        EXPECT_EQ(b.bar->value(), b.max);
    }
}

TEST_F(ShownWindowTest, UpperArrowLowersAndLowerArrowRaises)
{
    QScrollBar* bar = find<QScrollBar>("VScroll2");
    ASSERT_EQ(bar->value(), 1);
    const QPoint top(bar->width() / 2, 2);
    const QPoint bottom(bar->width() / 2, bar->height() - 3);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bottom);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bottom);
    EXPECT_EQ(bar->value(), 3);
    EXPECT_EQ(find<QLineEdit>("strBorder1")->text(), QStringLiteral("3"));
    QTest::mouseClick(bar, Qt::LeftButton, {}, top);
    EXPECT_EQ(bar->value(), 2);
    QTest::mouseClick(bar, Qt::LeftButton, {}, top);
    QTest::mouseClick(bar, Qt::LeftButton, {}, top);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(find<QLineEdit>("strBorder1")->text(), QStringLiteral("0"));
}

TEST_F(ShownWindowTest, SizeUnitFollowsTheButtons)
{
    const std::pair<int, int> clicks[] = { { 2, 2 }, { 1, 1 }, { 0, 0 }, { 2, 2 } };
    for (const auto& [button, unit] : clicks) {
        QTest::mouseClick(option(button), Qt::LeftButton, {}, QPoint(6, option(button)->height() / 2));
        EXPECT_EQ(window->sizeUnit(), unit);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(option(i)->isChecked(), i == button);
    }
    EXPECT_EQ(window->optionSetFromControls().sizeUnit, 2);
}

TEST_F(WindowTest, TextBoxesTakeNoCharacterPastTheirLimit)
{
    const std::pair<const char*, int> limits[] = {
        { "strTitle1", 32 },
        { "strOutFile1", 16 },
        { "strEnabled1", 2 },
        { "strBorder1", 2 },
    };
    for (const auto& [name, limit] : limits)
        EXPECT_EQ(find<QLineEdit>(name)->maxLength(), limit) << name;
    QLineEdit* title = find<QLineEdit>("strTitle1");
    typeText(title, QString(40, QChar(0x66F2))); // "曲" forty times
    EXPECT_EQ(title->text(), QString(32, QChar(0x66F2)));
}

} // namespace
} // namespace melodex::test

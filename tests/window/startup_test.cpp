// What the user sees right after start-up, and the ways out.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "listgen/out1.h"
#include "window_fixture.h"

namespace melodex::test {
namespace {

TEST_F(WindowTest, StartsWithEveryOptionAtItsDefault)
{
    for (int k = 0; k < 11; ++k) {
        ASSERT_NE(combo(k), nullptr);
        EXPECT_EQ(listIndex(combo(k)), k);
        EXPECT_EQ(combo(k)->count(), 12);
    }
    EXPECT_EQ(combo(0)->currentText(), QStringLiteral("ファイル名"));
    EXPECT_EQ(combo(10)->currentText(), QStringLiteral("サンプリングレート"));
    EXPECT_EQ(combo(3)->itemText(11), QStringLiteral("なし"));

    EXPECT_EQ(find<QScrollBar>("VScroll1")->value(), 11);
    EXPECT_EQ(find<QLineEdit>("strEnabled1")->text(), QStringLiteral("11"));
    EXPECT_EQ(find<QScrollBar>("VScroll2")->value(), 1);
    EXPECT_EQ(find<QLineEdit>("strBorder1")->text(), QStringLiteral("1"));
    EXPECT_TRUE(option(0)->isChecked());
    EXPECT_EQ(window->sizeUnit(), 0);
    EXPECT_EQ(find<QLineEdit>("strTitle1")->text(), QString());
    EXPECT_EQ(find<QLineEdit>("strOutFile1")->text(), QStringLiteral("list.htm"));

    const char* colours[] = { "WHITE", "WHITE", "BLACK", "RED" };
    const QColor samples[]
        = { QColor(255, 255, 255), QColor(255, 255, 255), QColor(0, 0, 0), QColor(255, 0, 0) };
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(colorBox(r)->currentText(), QString::fromLatin1(colours[r])) << r;
        EXPECT_EQ(sampleColour(colorSample(r)), samples[r]) << r;
    }

    const OptionSet defaults;
    EXPECT_EQ(window->optionSetFromControls(), defaults);
    EXPECT_EQ(inits, 1);
    EXPECT_EQ(frees, 0);
}

TEST_F(WindowTest, NumbersTheColumnChoosersInLabel1)
{
    EXPECT_EQ(find<QLabel>("Label1")->text(),
        QStringLiteral("\r\n 1\r\n\r\n 2\r\n\r\n 3\r\n\r\n 4\r\n\r\n 5\r\n\r\n 6\r\n\r\n 7\r\n\r\n 8\r\n"
                       "\r\n 9\r\n\r\n 10\r\n\r\n 11\r\n"));
}

TEST_F(WindowTest, ColumnHeadersReadAsTheChooserItemsButTheLast)
{
    for (int i = 0; i < 11; ++i) {
        const QString item = combo(0)->itemText(i);
        EXPECT_EQ(
            QString::fromStdString(ColumnHeaders()[i]), item + QString(32 - item.size(), QLatin1Char(' ')))
            << i;
    }
    EXPECT_EQ(ColumnHeaders()[11], "");
}

TEST_F(WindowTest, ShowsTheFixedTexts)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Melodex"));
    const std::pair<const char*, const char*> labels[] = {
        { "Label2", "タイトル/見出し" },
        { "Label3", "有効：(1～n)" },
        { "Label4", "出力ファイル名" },
        { "Label5", "MP3ファイルの数" },
        { "Label6", "背景" },
        { "Label7", "TABLE背景" },
        { "Label8", "TABLE文字" },
        { "Label9", "文字" },
        { "Label10", "枠線の太さ" },
    };
    for (const auto& [name, text] : labels)
        EXPECT_EQ(find<QLabel>(name)->text(), QString::fromUtf8(text)) << name;
    // The full-width colon and the wave dash CP932 writes as 81 46 and 81 60.
    EXPECT_EQ(find<QLabel>("Label3")->text().at(2), QChar(0xFF1A));
    EXPECT_EQ(find<QLabel>("Label3")->text().at(5), QChar(0xFF5E));

    EXPECT_EQ(find<QGroupBox>("Frame1")->title(), QStringLiteral("表示単位"));
    EXPECT_EQ(find<QPushButton>("cmdMakeList1")->text(), QStringLiteral("リスト作成"));
    EXPECT_EQ(find<QPushButton>("cmdExit1")->text(), QStringLiteral("終了(&E)"));
    EXPECT_EQ(find<QPushButton>("cmdExit1")->shortcut(), QKeySequence(QStringLiteral("Alt+E")));

    const auto entries = [](const QWidget* menu) {
        QStringList texts;
        for (const QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return texts;
    };
    EXPECT_EQ(entries(window->menuBar()), QStringList({ "終了", "設定保存", "設定読込", "オプション(&O)" }));
    EXPECT_EQ(entries(find<QMenu>("m_save_title")),
        QStringList({ "save1", "save2", "save3", "save4", "-", "カスタム" }));
    EXPECT_EQ(entries(find<QMenu>("m_read_title")),
        QStringList({ "read1", "read2", "read3", "read4", "-", "カスタム" }));
    EXPECT_EQ(entries(find<QMenu>("m_option_title")),
        QStringList({ "すべての音声ファイル", "-", "クラシックなページ", "モダンなページ" }));
}

} // namespace
} // namespace melodex::test

namespace melodex::test {
namespace {

// Captions drawn in a box narrower than they need are cut off on screen.
TEST_F(WindowTest, EveryCaptionFitsItsControl)
{
    if (QFontInfo(window->font()).family() != window->font().family())
        GTEST_SKIP() << "the window's font is not installed: " << window->font().family().toStdString();
    std::vector<QWidget*> controls;
    for (QLabel* label : window->findChildren<QLabel*>())
        if (!label->text().isEmpty() && label->objectName() != QStringLiteral("Label1"))
            controls.push_back(label);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        controls.push_back(button);
    for (QComboBox* box : window->findChildren<QComboBox*>())
        if (box->isEditable())
            controls.push_back(box);
    ASSERT_GE(controls.size(), 30u);
    for (QWidget* w : controls)
        EXPECT_LE(w->sizeHint().width(), w->width()) << w->objectName().toStdString();
    const QGroupBox* frame = find<QGroupBox>("Frame1");
    EXPECT_LE(frame->fontMetrics().horizontalAdvance(frame->title()), frame->width());
}

} // namespace
} // namespace melodex::test

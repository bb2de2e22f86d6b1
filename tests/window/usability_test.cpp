// What a desktop user expects beyond the fixed layout: where the focus
// starts and shows, Return on buttons, full names of cut ones, the open
// folder marked, F5, start-up messages over the window, Japanese buttons, a
// box while a save waits.

#include <filesystem>

#include <QHelpEvent>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QTranslator>

#include "test_support.h"
#include "window/qt_translation.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace melodex::test {
namespace {

QString tipAt(QListWidget* list, int row)
{
    const QPoint at = list->visualItemRect(list->item(row)).intersected(list->viewport()->rect()).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

int rowOf(const QListWidget* list, const QString& text)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text().trimmed() == text)
            return i;
    return -1;
}

class ShownFolderTest : public ShownWindowTest {
protected:
    void SetUp() override
    {
        ShownWindowTest::SetUp();
        for (const char* name : { "a.mp3", "b.mp3", "c.mp3" })
            music.write(name, "x");
        fs::create_directory(music.path() / "disc 1");
        fs::create_directory(music.path() / "disc 2");
        ASSERT_TRUE(window->openFolder(music.path().native()));
    }

    TempDir music { "melodex-usability" };
};

TEST_F(ShownWindowTest, StartsWithTheFocusOnTheDriveList)
{
    EXPECT_EQ(QApplication::focusWidget(), find<QWidget>("Drive1"));
}

TEST_F(ShownWindowTest, ReturnPressesTheFocusedButtonOnly)
{
    TempDir empty("melodex-usability");
    ASSERT_TRUE(window->openFolder(empty.path().native()));
    struct Case {
        const char* button;
        Qt::Key key;
        bool presses;
    };
    const Case cases[] = {
        { "cmdMakeList1", Qt::Key_Return, true },
        { "cmdMakeList1", Qt::Key_Enter, true }, // the keypad's
        { "cmdMakeList1", Qt::Key_Escape, false },
        { "cmdExit1", Qt::Key_Escape, false },
    };
    for (const Case& c : cases) {
        if (c.presses)
            dialogs.answerMessage();
        auto* button = find<QPushButton>(c.button);
        button->setFocus();
        QTest::keyClick(button, c.key);
        EXPECT_EQ(dialogs.shown.size(), c.presses ? 1u : 0u) << c.button << " " << c.key;
        if (!dialogs.shown.empty()) {
            EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("MP3ファイルがありません"));
        }
        dialogs.shown.clear();
    }
    EXPECT_TRUE(window->isVisible());
    auto* exit = find<QPushButton>("cmdExit1");
    exit->setFocus();
    QTest::keyClick(exit, Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(frees, 1);
}

TEST_F(ShownWindowTest, TheUpDownArrowsShowTheFocus)
{
    const std::pair<const char*, const char*> steps[]
        = { { "strEnabled1", "VScroll1" }, { "strBorder1", "VScroll2" } };
    for (const auto& [boxName, barName] : steps) {
        auto* before = find<QWidget>(boxName);
        auto* bar = find<QScrollBar>(barName);
        const QImage unfocused = bar->grab().toImage();
        before->setFocus();
        QTest::keyClick(before, Qt::Key_Tab);
        ASSERT_TRUE(bar->hasFocus());
        EXPECT_NE(bar->grab().toImage(), unfocused) << bar->objectName().toStdString();
    }
}

TEST_F(ShownWindowTest, CutNamesShowInFullAsToolTips)
{
    TempDir dir("melodex-usability");
    const std::string longName = "01 " + std::string(80, 'x') + " (live).mp3";
    for (const std::string& name : { std::string("00 short.mp3"), longName, std::string("02 short.mp3") })
        dir.write(name, "x");
    ASSERT_TRUE(window->openFolder(dir.path().native()));
    ASSERT_EQ(files()->count(), 3);
    EXPECT_EQ(tipAt(files(), 0), QString()) << "a name that fits has no tip";
    EXPECT_EQ(tipAt(files(), 1), QString::fromStdString(longName));
    QToolTip::hideText(); // after a moment
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000));

    // Dir1 scrolls sideways instead of cutting: a name that runs out of
    // sight shows whole too, without its indentation.
    const std::string longFolder = std::string(60, 'd');
    fs::create_directory(dir.path() / longFolder);
    ASSERT_TRUE(window->openFolder(dir.path().native()));
    EXPECT_EQ(tipAt(folders(), rowOf(folders(), QString::fromStdString(longFolder))),
        QString::fromStdString(longFolder));
    QToolTip::hideText();
}

TEST_F(ShownFolderTest, TheOpenFolderStaysMarkedWhileTheHighlightMoves)
{
    const int open = rowOf(folders(), QString::fromStdString(music.path().filename().native()));
    const int child = rowOf(folders(), QStringLiteral("disc 1"));
    ASSERT_GE(open, 0);
    ASSERT_GT(child, open);
    const auto image = [&](int row) { return folders()->item(row)->icon().pixmap(14).toImage(); };
    EXPECT_NE(image(open), image(child)) << "open and closed folders look alike";

    // A single click highlights a subfolder but opens nothing.
    QTest::mouseClick(folders()->viewport(), Qt::LeftButton, {},
        folders()->visualItemRect(folders()->item(child)).center());
    EXPECT_EQ(folders()->currentRow(), child);
    EXPECT_EQ(window->folderPath(), music.path().native());
    for (int row = 0; row < folders()->count(); ++row)
        EXPECT_EQ(folders()->item(row)->font().bold(), row == open) << row;
}

TEST_F(ShownFolderTest, F5ReadsTheListsAgainAndKeepsTheSelection)
{
    files()->setCurrentRow(1); // b.mp3
    folders()->setCurrentRow(rowOf(folders(), QStringLiteral("disc 2")));
    fs::remove(music.path() / "a.mp3");
    music.write("d.mp3", "x");
    fs::remove(music.path() / "disc 1");
    fs::create_directory(music.path() / "disc 3");

    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(window->fileNames(), (std::vector<std::string> { "b.mp3", "c.mp3", "d.mp3" }));
    EXPECT_EQ(fileCount(), QStringLiteral("3"));
    EXPECT_EQ(files()->currentItem()->text(), QStringLiteral("b.mp3"));
    EXPECT_TRUE(itemTexts(folders()).contains(QStringLiteral("disc 3")));
    EXPECT_FALSE(itemTexts(folders()).contains(QStringLiteral("disc 1")));
    EXPECT_EQ(folders()->currentItem()->text().trimmed(), QStringLiteral("disc 2"));
    EXPECT_EQ(window->folderPath(), music.path().native());

    // The selected file is gone: nothing else gets selected in its place.
    fs::remove(music.path() / "b.mp3");
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_TRUE(files()->selectedItems().isEmpty());
    EXPECT_EQ(fileCount(), QStringLiteral("2"));

    // The open folder itself is gone: the nearest folder left, without a box.
    ASSERT_TRUE(window->openFolder((music.path() / "disc 2").native()));
    fs::remove(music.path() / "disc 2");
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(window->folderPath(), music.path().native());
    EXPECT_EQ(fileCount(), QStringLiteral("2"));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(WindowTest, AStartFolderThatCannotBeReadIsReportedOnceTheWindowIsUp)
{
    const fs::path before = fs::current_path();
    {
        TempDir gone("melodex-usability");
        fs::current_path(gone.path());
    } // the process now stands in a folder that no longer exists
    auto other = makeWindow();
    fs::current_path(before);
    EXPECT_EQ(other->dirPath(), "/");
    EXPECT_TRUE(dialogs.shown.empty()) << "a box before the window exists";

    dialogs.answerMessage();
    other->show();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !dialogs.shown.empty(); }, 2000));
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(QStringLiteral("フォルダを開けません。")))
        << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(dialogs.shown[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Exclamation);
}

// Closes the next modal box once it is up, noting the texts of its buttons.
void noteButtonsOfNextBox(QStringList& seen)
{
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (const QPushButton* button : box->findChildren<QPushButton*>())
            seen << button->text();
        seen.sort();
        box->reject();
    });
}

TEST(QtJapanese, StandardButtonsSpeakJapaneseWhenTheTranslationIsInstalled)
{
    QTranslator missing;
    EXPECT_FALSE(loadQtJapanese(missing, TempDir("melodex-usability").path().c_str()));
    EXPECT_TRUE(missing.isEmpty());

    QTranslator japanese;
    if (!loadQtJapanese(japanese))
        GTEST_SKIP() << "Qt's Japanese translation (qt6-translations-l10n) is not installed";
    QCoreApplication::installTranslator(&japanese);
    QtDialogs dialogs;
    struct Case {
        MessageButtons buttons;
        MessageIcon icon;
        QStringList expected; // sorted
    };
    const Case cases[] = {
        { MessageButtons::Ok, MessageIcon::Exclamation, { "OK" } },
        { MessageButtons::OkCancel, MessageIcon::Question, { "OK", "キャンセル" } },
    };
    for (const Case& c : cases) {
        QStringList seen;
        noteButtonsOfNextBox(seen);
        dialogs.messageBox(QStringLiteral("終了しますか？"), c.buttons, c.icon);
        EXPECT_EQ(seen, c.expected) << c.expected.join(' ').toStdString();
    }
    QStringList seen;
    noteButtonsOfNextBox(seen);
    dialogs.inputBox(QStringLiteral("名前"), QString(), QString());
    EXPECT_EQ(seen, (QStringList { "OK", "キャンセル" }));
    QCoreApplication::removeTranslator(&japanese);
}

// The real box: up over the window at once, which takes no input meanwhile;
// its Cancel is seen at the next look, and it goes with its owner.
TEST_F(ShownWindowTest, WaitingBoxBlocksTheWindowUntilCancelled)
{
    QtDialogs real(window.get());
    auto box = real.waitingBox(QStringLiteral("お待ちください"));
    auto* dialog = window->findChild<QProgressDialog*>(QStringLiteral("WaitingBox"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), dialog);
    EXPECT_FALSE(box->cancelled());
    auto* cancel = dialog->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), QStringLiteral("キャンセル"));
    cancel->click();
    EXPECT_TRUE(box->cancelled());
    box.reset();
    EXPECT_EQ(window->findChild<QProgressDialog*>(QStringLiteral("WaitingBox")), nullptr);
}

} // namespace
} // namespace melodex::test

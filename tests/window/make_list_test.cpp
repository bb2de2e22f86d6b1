// The make-list button: what the user is told, what lands on disk, and that
// the window writes what the command line writes for the same settings.

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include <QProgressDialog>
#include <QPushButton>

#include "cli/cli.h"
#include "listgen/list_document.h"
#include "test_support.h"
#include "window_fixture.h"

namespace melodex::test {
namespace {

class MakeListTest : public WindowTest {
protected:
    void open(const TempDir& dir) { ASSERT_TRUE(window->openFolder(dir.path().string())); }
    void makeList() { find<QPushButton>("cmdMakeList1")->click(); }
    // The one box a run shows: a plain OK box under the program's name.
    void expectOnlyBox(const QString& text)
    {
        ASSERT_EQ(dialogs.shown.size(), 1u);
        const ShownBox& box = dialogs.shown.back();
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
        EXPECT_EQ(box.icon, MessageIcon::None);
        EXPECT_EQ(box.caption, QStringLiteral("Melodex"));
    }
};

TEST_F(MakeListTest, EmptyFolderIsRefusedWithAMessage)
{
    TempDir dir("melodex-window-list");
    dir.write("notes.txt", "not music");
    open(dir);
    dialogs.answerMessage();
    makeList();
    expectOnlyBox(QStringLiteral("MP3ファイルがありません"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "list.htm"));
}

TEST_F(MakeListTest, WritesWhatTheCommandLineWritesForTheSameSettings)
{
    TempDir dir("melodex-window-list");
    for (const char* name :
        { "cbr128_44k_stereo.mp3", "a&b <c>.mp3", "Café – Ω.mp3", "id3v1_sjis.mp3", "text_file.mp3" })
        std::filesystem::copy_file(corpusDir() / name, dir.path() / name);
    open(dir);

    const int fields[] = { 0, 1, 2, 11, 7, 8, 9 };
    for (int k = 0; k < 7; ++k)
        combo(k)->setCurrentIndex(fields[k]);
    find<QScrollBar>("VScroll1")->setValue(7);
    const int colours[] = { 16, 15, 3, 14 }; // LAVENDER, KHAKI, DARKBLUE, HOTPINK
    for (int r = 0; r < 4; ++r)
        colorBox(r)->setCurrentIndex(colours[r]);
    find<QScrollBar>("VScroll2")->setValue(3);
    option(1)->click();
    find<QLineEdit>("strTitle1")->setText(QStringLiteral("Björk <live> & 日本"));

    dialogs.answerMessage();
    makeList();
    expectOnlyBox(QStringLiteral("Success"));

    std::ostringstream out, err;
    const int code = cli::runCli(
        { "list", dir.path().string(), "--output", "cli.htm", "--columns",
            "file,track,artist,none,size,time,bitrate", "--colors", "lavender,khaki,darkblue,hotpink",
            "--border", "3", "--unit", "kb", "--title", "Björk <live> & 日本" },
        out, err);
    ASSERT_EQ(code, cli::kExitOk) << err.str();
    const std::string page = readFile(dir.path() / "list.htm");
    EXPECT_FALSE(page.empty());
    EXPECT_EQ(page, readFile(dir.path() / "cli.htm"));
}

TEST_F(MakeListTest, FailureNamesTheReasonAndKeepsThePreviousList)
{
    TempDir dir("melodex-window-list");
    dir.write("a.mp3", "x");
    dir.write("list.htm", "previous");
    open(dir);
    // Typed text that names no field leaves the chooser without a valid one.
    combo(1)->setEditText(QStringLiteral("曲名"));
    ASSERT_EQ(listIndex(combo(1)), -1);

    dialogs.answerMessage();
    makeList();
    expectOnlyBox(QStringLiteral("file i/o error\ncolumn 2 has no valid field"));
    EXPECT_EQ(readFile(dir.path() / "list.htm"), "previous");
}

TEST_F(MakeListTest, RefusedOutputNameIsShownWithItsReason)
{
    TempDir root("melodex-window-list");
    std::filesystem::create_directory(root.path() / "music");
    root.write("music/a.mp3", "track");
    ASSERT_TRUE(window->openFolder((root.path() / "music").string()));
    find<QLineEdit>("strOutFile1")->setText(QStringLiteral("../x.htm"));

    dialogs.answerMessage();
    makeList();
    const std::string reason = checkOutputName("../x.htm").value_or("");
    expectOnlyBox(QStringLiteral("file i/o error\n") + QString::fromStdString(reason));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "x.htm"));
    EXPECT_EQ(readFile(root.path() / "music/a.mp3"), "track");
}

TEST_F(MakeListTest, LongRunShowsProgressAndCancelKeepsThePreviousList)
{
    TempDir dir("melodex-window-list");
    constexpr int kFiles = 10;
    for (int i = 1; i <= kFiles; ++i)
        dir.write(std::to_string(i) + ".mp3", "x");
    dir.write("list.htm", "previous");

    bool shown = false;
    int reads = 0;
    TrackLibrary slow;
    slow.getFileInfo = [&](const char*, TrackTag*, StreamInfo*) -> int32_t {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        if (++reads == 8) {
            auto* progress = window->findChild<QProgressDialog*>(QStringLiteral("MakeListProgress"));
            if (progress != nullptr) {
                shown = progress->isVisible() && progress->isModal();
                progress->cancel(); // as its Cancel button does
            }
        }
        return 1;
    };
    window = makeWindow(slow);
    open(dir);
    makeList(); // no box: the user cancelled
    EXPECT_TRUE(shown) << "a run of about a second shows its progress";
    EXPECT_EQ(reads, 8);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(readFile(dir.path() / "list.htm"), "previous");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), kFiles + 1)
        << "no temporary file may stay";
}

} // namespace
} // namespace melodex::test

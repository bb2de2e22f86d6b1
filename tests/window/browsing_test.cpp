// Folder browsing: the three lists, FolderPath and the count follow the
// folder the user opens, and stay put when a folder cannot be read.

#include <cstring>
#include <filesystem>
#include <fstream>

#include <QTest>

#include <sys/stat.h>

#include "common/folder_listing.h"
#include "test_support.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace melodex::test {
namespace {

// A folder with twelve MP3 files (one named in upper case), a hidden one, a
// text file and a subfolder.
class FolderTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        for (int i = 1; i <= 11; ++i)
            music.write("track " + std::to_string(i) + ".mp3", "x");
        music.write("LOUD.MP3", "x");
        music.write(".hidden.mp3", "x");
        music.write("notes.txt", "x");
        fs::create_directory(music.path() / "disc 2");
        musicPath = music.path().native();
    }

    QComboBox* drives() const { return find<QComboBox>("Drive1"); }
    // As a pick from the drop-down list does.
    void pickDrive(int index) const
    {
        drives()->setCurrentIndex(index);
        emit drives()->activated(index);
    }

    TempDir music { "melodex-window" };
    std::string musicPath;
};

TEST_F(FolderTest, OpeningAFolderUpdatesEverythingInOneStep)
{
    ASSERT_TRUE(window->openFolder(musicPath));
    EXPECT_EQ(window->folderPath(), musicPath);
    EXPECT_EQ(fileCount(), QStringLiteral("12"));
    EXPECT_EQ(files()->count(), 12);
    std::vector<std::string> expected;
    for (int i = 1; i <= 11; ++i) {
        if (i == 1)
            expected.push_back("LOUD.MP3");
        expected.push_back("track " + std::to_string(i) + ".mp3");
    }
    EXPECT_EQ(window->fileNames(), expected);
    EXPECT_EQ(files()->item(0)->text(), QStringLiteral("LOUD.MP3"));
    EXPECT_EQ(files()->item(11)->text(), QStringLiteral("track 11.mp3"));

    // Dir1: the folder among its ancestors, then its subfolders.
    const QStringList dirs = itemTexts(folders());
    ASSERT_GE(dirs.size(), 3);
    EXPECT_EQ(dirs.first(), QStringLiteral("/"));
    EXPECT_EQ(dirs.last(), QStringLiteral("disc 2"));
    EXPECT_EQ(dirs.at(dirs.size() - 2), QString::fromStdString(music.path().filename().native()));
    EXPECT_EQ(folders()->currentRow(), dirs.size() - 2);
    EXPECT_EQ(drives()->currentText().left(1), QStringLiteral("/"));

    for (const auto& name : window->fileNames())
        EXPECT_TRUE(fs::is_regular_file(window->folderPath() + "/" + name)) << name;
}

TEST_F(FolderTest, OpeningTheRootLeavesFolderPathEmpty)
{
    ASSERT_TRUE(window->openFolder(musicPath));
    ASSERT_TRUE(window->openFolder("/"));
    EXPECT_EQ(window->folderPath(), "");
    EXPECT_EQ(window->dirPath(), "/");
    const auto rootFiles = listMp3Files("/");
    EXPECT_EQ(files()->count(), static_cast<int>(rootFiles.names.size()));
    EXPECT_EQ(fileCount(), QString::number(rootFiles.names.size()));
    EXPECT_EQ(itemTexts(folders()).first(), QStringLiteral("/"));
    EXPECT_EQ(folders()->currentRow(), 0);
}

TEST_F(FolderTest, TheDriveListLeadsToItsRoot)
{
    ASSERT_TRUE(window->openFolder(musicPath));
    ASSERT_GE(drives()->count(), 1);
    EXPECT_EQ(drives()->itemText(0).left(1), QStringLiteral("/"));
    // Dropping the list down reads the mounts again but keeps the shown drive.
    const QString shown = drives()->currentText();
    drives()->showPopup();
    drives()->hidePopup();
    EXPECT_EQ(drives()->currentText(), shown);
    EXPECT_EQ(window->dirPath(), musicPath);
    // A pick of the drive shown does nothing; another one opens at its root.
    window->setVolumeSource([&] {
        return std::vector<MountedVolume> { { "/", "" }, { musicPath, "MUSIC" } };
    });
    ASSERT_TRUE(window->openFolder(musicPath + "/disc 2"));
    pickDrive(1);
    EXPECT_EQ(window->dirPath(), musicPath + "/disc 2");
    pickDrive(0);
    EXPECT_EQ(window->dirPath(), "/");
    EXPECT_EQ(window->folderPath(), "");
}

TEST_F(FolderTest, AnUnreadableDriveKeepsTheDriveAndFolderShown)
{
    ASSERT_TRUE(window->openFolder(musicPath));
    const std::string gone = musicPath + "/unplugged";
    window->setVolumeSource([&] {
        return std::vector<MountedVolume> { { "/", "" }, { musicPath, "MUSIC" }, { gone, "STICK" } };
    });
    ASSERT_EQ(drives()->count(), 3);
    EXPECT_EQ(drives()->currentIndex(), 1) << "the innermost mount holding the folder";
    EXPECT_EQ(drives()->itemText(1), QString::fromStdString(musicPath + " [MUSIC]"));

    dialogs.answerMessage();
    pickDrive(2);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("unplugged")));
    EXPECT_EQ(drives()->currentIndex(), 1);
    EXPECT_EQ(window->folderPath(), musicPath);
    EXPECT_EQ(files()->count(), 12);

    pickDrive(0);
    EXPECT_EQ(window->folderPath(), "");
    EXPECT_EQ(drives()->currentIndex(), 0);
}

TEST_F(FolderTest, OpeningAFolderFromDir1WithTheKeyboard)
{
    ASSERT_TRUE(window->openFolder(musicPath));
    fs::copy_file(music.path() / "LOUD.MP3", music.path() / "disc 2" / "intro.mp3");
    folders()->setCurrentRow(folders()->count() - 1);
    QTest::keyClick(folders(), Qt::Key_Return);
    EXPECT_EQ(window->folderPath(), musicPath + "/disc 2");
    EXPECT_EQ(fileCount(), QStringLiteral("1"));

    // And back up through an ancestor row.
    const int parentRow = folders()->currentRow() - 1;
    folders()->setCurrentRow(parentRow);
    QTest::keyClick(folders(), Qt::Key_Return);
    EXPECT_EQ(window->folderPath(), musicPath);
    EXPECT_EQ(fileCount(), QStringLiteral("12"));
}

TEST_F(FolderTest, AnUnreadableFolderChangesNothingAndSaysWhy)
{
    ASSERT_TRUE(window->openFolder(musicPath));
    const QStringList dirsBefore = itemTexts(folders());
    // The folder vanishes after it was listed: a permission bit would not stop root.
    fs::remove(music.path() / "disc 2");
    dialogs.answerMessage();
    folders()->setCurrentRow(folders()->count() - 1);
    QTest::keyClick(folders(), Qt::Key_Return);

    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("disc 2")));
    EXPECT_TRUE(dialogs.shown[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
    EXPECT_EQ(window->folderPath(), musicPath);
    EXPECT_EQ(window->dirPath(), musicPath);
    EXPECT_EQ(itemTexts(folders()), dirsBefore);
    EXPECT_EQ(files()->count(), 12);
    EXPECT_EQ(fileCount(), QStringLiteral("12"));

    // A path that is a file, not a folder.
    dialogs.answerMessage();
    EXPECT_FALSE(window->openFolder(musicPath + "/notes.txt"));
    EXPECT_EQ(window->folderPath(), musicPath);
}

TEST_F(FolderTest, NamesAreKeptAsTheFileSystemHoldsThem)
{
    const fs::path odd = music.path() / "mixed  "; // trailing blanks belong to the name
    fs::create_directory(odd);
    std::ofstream(odd / "caf\xe9.mp3") << "x"; // Windows-1252, not UTF-8
    std::ofstream(odd / "sj_\x83\x65\x83\x58\x83\x67.mp3") << "x"; // CP932
    ASSERT_TRUE(window->openFolder(odd.native()));
    EXPECT_EQ(window->folderPath(), odd.native());
    ASSERT_EQ(window->fileNames().size(), 2u);
    EXPECT_EQ(window->fileNames()[0], "caf\xe9.mp3");
    EXPECT_EQ(window->fileNames()[1], "sj_\x83\x65\x83\x58\x83\x67.mp3");
    // Shown as the page shows them.
    EXPECT_EQ(files()->item(0)->text(), QStringLiteral("café.mp3"));
    EXPECT_EQ(files()->item(1)->text(), QStringLiteral("sj_テスト.mp3"));
    for (const auto& name : window->fileNames())
        EXPECT_TRUE(fs::is_regular_file(window->folderPath() + "/" + name));
}

TEST_F(FolderTest, StartsInTheCurrentFolder)
{
    const fs::path before = fs::current_path();
    fs::current_path(music.path());
    window = makeWindow();
    fs::current_path(before);
    EXPECT_EQ(window->folderPath(), fs::canonical(music.path()).native());
    EXPECT_EQ(fileCount(), QStringLiteral("12"));
}

} // namespace
} // namespace melodex::test

#pragma once
// The program's only window. The Option set lives in its controls (and in
// SizeUnit); commands read it from them when they start, presets set it back
// into them. Setting a chooser from code must repaint its sample at once, so
// code sets list positions through setListIndex().

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QIcon>
#include <QMainWindow>
#include <QString>

#include "common/mount_table.h"
#include "common/option_set.h"
#include "trackinfo/vbmp3.h"
#include "window/dialogs.h"
#include "window/notice.h"
#include "window/track_library.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace melodex {
class TextBox;
}

// The members that hold the controls, one for each control or control array
// the layout makes; the layout names the one each control goes into.
enum class ControlSlot {
    None, // a control the handlers never touch (a label, a frame)
    Drive1,
    Dir1,
    File1,
    strFileCount,
    Label5,
    Label1,
    Combo1,
    strEnabled1,
    VScroll1,
    strTitle1,
    strOutFile1,
    ColorList,
    ColorBox1,
    ColorSample1,
    strBorder1,
    VScroll2,
    Option1,
    cmdMakeList1,
    cmdExit1,
};

// The controls carry their fixed names as objectName ("Combo1(3)"), which is
// how anything outside the window finds one. The handlers are private: they
// run from the controls' signals and the menu's actions, as the user's input
// raises them.
class frmMain1 : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain1(melodex::Dialogs& dialogs, TrackLibrary library = {}, QWidget* parent = nullptr);
    ~frmMain1() override;

    // Where Drive1 takes its entries from (the system's mounts unless a test
    // says otherwise); the list is read again at once.
    void setVolumeSource(std::function<std::vector<melodex::MountedVolume>()> source);

    // Opens a folder as if the user had opened it in Dir1. On failure the
    // window shows why and stays on the folder it showed; returns false.
    bool openFolder(const std::string& path);

    // --- State that is not a control ---
    // The listed folder exactly as on disk, empty for the root "/".
    const std::string& folderPath() const { return FolderPath; }
    // The folder Dir1 shows ("/" for the root).
    const std::string& dirPath() const { return dirPath_; }
    // The names in File1, in list order, as the file system holds them
    // (bytes, possibly not UTF-8); File1 shows them decoded.
    const std::vector<std::string>& fileNames() const { return fileNames_; }
    int16_t sizeUnit() const { return SizeUnit; }
    // The code of the colour last shown in a sample.
    const QString& colorCode() const { return ColorCode; }
    // The Option set as the controls show it now.
    melodex::OptionSet optionSetFromControls() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // --- Handlers ---
    void Form_Load();
    void Form_QueryUnload();
    void Drive1_Change();
    void Dir1_Change();
    void ColorBox1_Click(int index);
    void Option1_Click(int index);
    void VScroll1_Change();
    void VScroll2_Change();
    void cmdExit1_Click();
    void m_exit_Click();
    void cmdMakeList1_Click();
    void m_save_1_Click(int index);
    void m_read_1_Click(int index);
    void m_save_2_Click();
    void m_read_2_Click();
    void m_all_formats_Click(bool checked);

    void createControls();
    // Takes the control the layout made into its member (index: its place in
    // the member's array).
    void keepControl(ControlSlot slot, int index, QWidget* control);
    void keepLabel(ControlSlot slot, std::size_t at, QLabel* label);
    void makeFolderIcons();
    void createMenus();
    void setTabOrder();
    void connectHandlers();

    // Selects an item (-1: none, with an empty text). A colour chooser's
    // sample follows at once, even when the position does not change.
    void setListIndex(QComboBox* box, int index);

    void refreshDrives();
    void selectDriveFor(const std::string& folder);
    bool showFolder(const std::string& path);
    // F5: reads the drive, folder and file lists again, after files changed
    // on disk, keeping the highlighted folder and file where they still are.
    void rereadFolder();
    // The menu's check and the count label's text follow formats_.
    void showFormats();
    void tell(const QString& text, melodex::MessageIcon icon);

    void MakeList();
    void LoadOptionSet(int preset);
    // Sets every control the way the user would, so that its own handler
    // repaints the sample or sets SizeUnit; the number boxes take the texts
    // of options as they are.
    void applyOptionSet(const melodex::OptionSet& options);
    void showNotice(const std::optional<melodex::Notice>& notice);

    // --- Controls, under their fixed names ---
    QComboBox* Drive1 = nullptr;
    QListWidget* Dir1 = nullptr;
    QListWidget* File1 = nullptr;
    QLineEdit* strFileCount = nullptr;
    QLabel* Label5 = nullptr; // names what strFileCount counts
    QLabel* Label1 = nullptr;
    std::array<QComboBox*, melodex::kColumnCount> Combo1 {};
    melodex::TextBox* strEnabled1 = nullptr;
    QScrollBar* VScroll1 = nullptr;
    melodex::TextBox* strTitle1 = nullptr;
    melodex::TextBox* strOutFile1 = nullptr;
    QListWidget* ColorList = nullptr; // the palette's codes; a lookup table, never shown
    std::array<QComboBox*, 4> ColorBox1 {};
    std::array<QLabel*, 4> ColorSample1 {};
    melodex::TextBox* strBorder1 = nullptr;
    QScrollBar* VScroll2 = nullptr;
    std::array<QRadioButton*, 3> Option1 {};
    QPushButton* cmdMakeList1 = nullptr;
    QPushButton* cmdExit1 = nullptr;

    // --- Menus ---
    QAction* m_exit = nullptr;
    QMenu* m_save_title = nullptr;
    std::array<QAction*, 4> m_save_1 {};
    QAction* m_save_sep = nullptr;
    QAction* m_save_2 = nullptr;
    QMenu* m_read_title = nullptr;
    std::array<QAction*, 4> m_read_1 {};
    QAction* m_read_sep = nullptr;
    QAction* m_read_2 = nullptr;
    QMenu* m_option_title = nullptr;
    QAction* m_all_formats = nullptr;
    std::array<QAction*, 2> m_style_1 {}; // by PageStyle

    // --- Working values ---
    // FolderPath + "/" + a file name addresses the file in any folder.
    std::string FolderPath;
    int16_t SizeUnit = 0; // 0 Byte, 1 KB, 2 MB
    // Shared by the four colour choosers.
    QString ColorCode;
    QString ColorR;
    QString ColorG;
    int16_t ColorB = 0;

    melodex::Dialogs& dialogs_;
    TrackLibrary library_;
    bool libraryReleased_ = false;

    TrackTag trackTag_ {};
    StreamInfo streamInfo_ {};

    std::string dirPath_; // Dir1.Path
    std::vector<std::string> dirPaths_; // the folder each Dir1 row opens
    std::function<std::vector<melodex::MountedVolume>()> volumes_ = melodex::mountedVolumes;
    std::vector<std::string> drivePaths_; // the mount point of each Drive1 row
    int driveIndex_ = -1; // the drive shown before a change
    std::vector<std::string> fileNames_; // File1's entries as bytes
    std::vector<std::string> listedFiles_; // read for the folder being opened
    // Not a control of its own: one menu item offers MP3 alone or every
    // format, but a preset may hold any list, which the window keeps as it is.
    melodex::FormatSet formats_ = melodex::FormatSet::mp3Only();
    QIcon openFolderIcon_;
    QIcon closedFolderIcon_;

    bool loading_ = true; // Form_Load has not finished
    std::vector<std::pair<QString, melodex::MessageIcon>> startupMessages_;
};

#include "window/frmMain1.h"

#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>

#include "common/folder_listing.h"
#include "common/folder_path.h"
#include "common/mount_table.h"
#include "common/sjis.h"
#include "window/make_list_command.h"
#include "window/preset_commands.h"
#include "window/widgets.h"

namespace {

// The labels were drawn for a 12-pixel Japanese UI font; Noto Sans CJK at 11
// pixels is the size at which every caption still fits its label.
constexpr const char* kFontFamily = "Noto Sans CJK JP";
constexpr int kFontPixels = 11;

// Names that are not UTF-8 are read as the page reads them.
QString decodedName(const std::string& name)
{
    if (melodex::sjis::isUtf8(name))
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    return QString::fromStdString(melodex::sjis::legacyToUtf8(name));
}

QString cannotOpenFolder(const QString& reason)
{
    return QStringLiteral("フォルダを開けません。\r\n%1").arg(reason);
}

} // namespace

frmMain1::frmMain1(melodex::Dialogs& dialogs, TrackLibrary library, QWidget* parent)
    : QMainWindow(parent)
    , dialogs_(dialogs)
    , library_(std::move(library))
{
    setObjectName(QStringLiteral("frmMain1"));
    setWindowTitle(melodex::kAppTitle);
    setWindowIcon(QIcon(QStringLiteral(":/melodex/melodex.png")));
    QFont font(QString::fromLatin1(kFontFamily));
    font.setPixelSize(kFontPixels);
    setAttribute(Qt::WA_WindowPropagation); // menus and boxes take the font too
    setFont(font);

    createControls();
    createMenus();
    setTabOrder();
    connectHandlers();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    Form_Load();
    loading_ = false;
    // The first control in the tab order, whatever Qt would pick.
    Drive1->setFocus();
}

frmMain1::~frmMain1()
{
    // A window destroyed without a close request still lets the library go.
    Form_QueryUnload();
}

void frmMain1::connectHandlers()
{
    connect(Drive1, &QComboBox::activated, this, [this](int index) {
        if (index != driveIndex_)
            Drive1_Change();
    });
    connect(Dir1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const int row = Dir1->row(item);
        if (row >= 0 && row < static_cast<int>(dirPaths_.size()) && dirPaths_[row] != dirPath_)
            openFolder(dirPaths_[row]);
    });
    for (int r = 0; r < 4; ++r) {
        // A pick from the list raises the handler even when it names the
        // item already selected: the sample may show an older colour after
        // the user typed into the box.
        connect(ColorBox1[r], &QComboBox::activated, this, [this, r] { ColorBox1_Click(r); });
        connect(ColorBox1[r], &QComboBox::currentIndexChanged, this, [this, r] { ColorBox1_Click(r); });
    }
    for (int i = 0; i < 3; ++i)
        connect(Option1[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                Option1_Click(i);
        });
    connect(VScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });
    connect(VScroll2, &QScrollBar::valueChanged, this, [this] { VScroll2_Change(); });
    connect(cmdExit1, &QPushButton::clicked, this, [this] { cmdExit1_Click(); });
    connect(cmdMakeList1, &QPushButton::clicked, this, [this] { cmdMakeList1_Click(); });
    connect(m_exit, &QAction::triggered, this, [this] { m_exit_Click(); });
    for (int k = 0; k < 4; ++k) {
        connect(m_save_1[k], &QAction::triggered, this, [this, k] { m_save_1_Click(k); });
        connect(m_read_1[k], &QAction::triggered, this, [this, k] { m_read_1_Click(k); });
    }
    connect(m_save_2, &QAction::triggered, this, [this] { m_save_2_Click(); });
    connect(m_read_2, &QAction::triggered, this, [this] { m_read_2_Click(); });
    connect(m_all_formats, &QAction::triggered, this, [this](bool checked) { m_all_formats_Click(checked); });
    auto* reread = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(reread, &QShortcut::activated, this, [this] { rereadFolder(); });
}

void frmMain1::setListIndex(QComboBox* box, int index)
{
    if (index < -1 || index >= box->count())
        return;
    const bool changed = box->currentIndex() != index;
    box->setCurrentIndex(index);
    if (box->isEditable())
        box->setEditText(index < 0 ? QString() : box->itemText(index));
    const auto colour = std::find(ColorBox1.begin(), ColorBox1.end(), box);
    if (colour != ColorBox1.end() && !changed)
        ColorBox1_Click(static_cast<int>(colour - ColorBox1.begin()));
}

melodex::OptionSet frmMain1::optionSetFromControls() const
{
    melodex::OptionSet set;
    for (int k = 0; k < melodex::kColumnCount; ++k)
        set.columns[k] = melodex::listIndex(Combo1[k]);
    set.enabledColumns = VScroll1->value();
    set.enabledText = strEnabled1->text().toStdString();
    for (int r = 0; r < 4; ++r) {
        set.colorIndex[r] = melodex::listIndex(ColorBox1[r]);
        set.colorText[r] = ColorBox1[r]->currentText().toStdString();
    }
    set.border = VScroll2->value();
    set.borderText = strBorder1->text().toStdString();
    set.sizeUnit = SizeUnit;
    set.title = strTitle1->text().toStdString();
    set.outFile = strOutFile1->text().toStdString();
    set.formats = formats_;
    set.style = m_style_1[static_cast<std::size_t>(melodex::PageStyle::Modern)]->isChecked()
        ? melodex::PageStyle::Modern
        : melodex::PageStyle::Classic;
    return set;
}

void frmMain1::Form_Load()
{
    const melodex::OptionSet defaults;
    QString numbers;
    for (int i = 0; i < melodex::kColumnCount; ++i) {
        setListIndex(Combo1[i], defaults.columns[i]);
        // Every number has a blank line above it, so that each stands level
        // with its chooser, two lines further down.
        numbers += QStringLiteral("\r\n %1\r\n").arg(i + 1);
    }
    Label1->setText(numbers);

    for (int r = 0; r < 4; ++r)
        setListIndex(ColorBox1[r], defaults.colorIndex[r]);

    library_.init();
    SizeUnit = 0;

    refreshDrives();
    std::error_code ec;
    const std::string start = std::filesystem::current_path(ec).native();
    if (ec)
        tell(cannotOpenFolder(QString::fromLocal8Bit(ec.message())), melodex::MessageIcon::Exclamation);
    if (ec || !openFolder(start))
        openFolder("/");
}

void frmMain1::tell(const QString& text, melodex::MessageIcon icon)
{
    // A box raised while the window is being built would stand alone on the
    // screen, before the window and without its icon.
    if (loading_)
        startupMessages_.push_back({ text, icon });
    else
        dialogs_.messageBox(text, melodex::MessageButtons::Ok, icon);
}

void frmMain1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (startupMessages_.empty())
        return;
    // Once the window is on the screen, not inside show().
    QTimer::singleShot(0, this, [this] {
        auto messages = std::move(startupMessages_);
        startupMessages_.clear();
        for (const auto& [text, icon] : messages)
            dialogs_.messageBox(text, melodex::MessageButtons::Ok, icon);
    });
}

void frmMain1::Form_QueryUnload()
{
    if (libraryReleased_)
        return;
    libraryReleased_ = true;
    library_.free();
}

void frmMain1::closeEvent(QCloseEvent* event)
{
    Form_QueryUnload();
    event->accept();
}

void frmMain1::cmdExit1_Click() { close(); }

void frmMain1::m_exit_Click()
{
    const auto answer = dialogs_.messageBox(QStringLiteral("終了しますか？"),
        melodex::MessageButtons::OkCancel, melodex::MessageIcon::Question, QStringLiteral("終了確認"));
    if (answer == melodex::MessageResult::Ok)
        close();
}

void frmMain1::refreshDrives()
{
    const auto volumes = volumes_();
    const QSignalBlocker block(Drive1);
    Drive1->clear();
    drivePaths_.clear();
    for (const auto& volume : volumes) {
        QString text = decodedName(volume.path);
        if (!volume.label.empty())
            text += QStringLiteral(" [%1]").arg(decodedName(volume.label));
        Drive1->addItem(text);
        drivePaths_.push_back(volume.path);
    }
    driveIndex_ = -1;
}

void frmMain1::setVolumeSource(std::function<std::vector<melodex::MountedVolume>()> source)
{
    volumes_ = std::move(source);
    refreshDrives();
    selectDriveFor(dirPath_);
}

void frmMain1::selectDriveFor(const std::string& folder)
{
    int best = -1;
    std::size_t bestLength = 0;
    for (std::size_t i = 0; i < drivePaths_.size(); ++i) {
        const std::string& mount = drivePaths_[i];
        const bool under = mount == "/" || folder == mount
            || (folder.size() > mount.size() && folder.compare(0, mount.size(), mount) == 0
                && folder[mount.size()] == '/');
        if (under && (best < 0 || mount.size() > bestLength)) {
            best = static_cast<int>(i);
            bestLength = mount.size();
        }
    }
    const QSignalBlocker block(Drive1);
    Drive1->setCurrentIndex(best);
    driveIndex_ = best;
}

void frmMain1::Drive1_Change()
{
    const int index = Drive1->currentIndex();
    if (index < 0 || index >= static_cast<int>(drivePaths_.size()) || !openFolder(drivePaths_[index])) {
        // The drive could not be read: the lists stay on the folder they showed.
        const QSignalBlocker block(Drive1);
        Drive1->setCurrentIndex(driveIndex_);
    }
}

bool frmMain1::openFolder(const std::string& path) { return showFolder(melodex::normalFolderPath(path)); }

bool frmMain1::showFolder(const std::string& path)
{
    // Read everything first: a folder that cannot be read must leave the
    // lists and FolderPath describing the folder shown before.
    const auto subfolders = melodex::listSubfolders(path);
    auto files = subfolders.ok ? melodex::listAudioFiles(path, formats_) : melodex::FolderListing {};
    if (!subfolders.ok || !files.ok) {
        const std::string& reason = subfolders.ok ? files.error : subfolders.error;
        tell(cannotOpenFolder(decodedName(reason)), melodex::MessageIcon::Exclamation);
        return false;
    }

    dirPath_ = path;
    dirPaths_.clear();
    Dir1->setUpdatesEnabled(false);
    Dir1->clear();
    const auto chain = melodex::folderChain(path);
    const QString indent = QStringLiteral("  ");
    for (std::size_t depth = 0; depth < chain.size(); ++depth) {
        const QString name = decodedName(melodex::folderName(chain[depth]));
        Dir1->addItem(new QListWidgetItem(openFolderIcon_, indent.repeated(static_cast<int>(depth)) + name));
        dirPaths_.push_back(chain[depth]);
    }
    // The highlight moves with a single click, the open folder only with a
    // double click or Return: bold keeps the open one in sight.
    QFont bold = Dir1->font();
    bold.setBold(true);
    Dir1->item(static_cast<int>(chain.size()) - 1)->setFont(bold);
    const QString childIndent = indent.repeated(static_cast<int>(chain.size()));
    for (const auto& name : subfolders.names) {
        Dir1->addItem(new QListWidgetItem(closedFolderIcon_, childIndent + decodedName(name)));
        dirPaths_.push_back(melodex::joinPath(path, name));
    }
    Dir1->setCurrentRow(static_cast<int>(chain.size()) - 1);
    Dir1->setUpdatesEnabled(true);

    listedFiles_ = std::move(files.names);
    Dir1_Change();
    selectDriveFor(path);
    return true;
}

void frmMain1::rereadFolder()
{
    const int dirRow = Dir1->currentRow();
    const std::string highlighted
        = dirRow >= 0 && dirRow < static_cast<int>(dirPaths_.size()) ? dirPaths_[dirRow] : std::string();
    const int fileRow = File1->currentRow();
    const std::string selected
        = fileRow >= 0 && fileRow < static_cast<int>(fileNames_.size()) ? fileNames_[fileRow] : std::string();

    refreshDrives();
    // A folder removed since it was opened gives way to the nearest one left.
    std::string folder = dirPath_;
    std::error_code ec;
    while (folder != "/" && !std::filesystem::is_directory(folder, ec)) {
        const auto chain = melodex::folderChain(folder);
        folder = chain[chain.size() - 2];
    }
    if (!showFolder(folder)) {
        selectDriveFor(dirPath_);
        return;
    }
    const auto dir = std::find(dirPaths_.begin(), dirPaths_.end(), highlighted);
    if (dir != dirPaths_.end())
        Dir1->setCurrentRow(static_cast<int>(dir - dirPaths_.begin()));
    const auto file = std::find(fileNames_.begin(), fileNames_.end(), selected);
    if (!selected.empty() && file != fileNames_.end())
        File1->setCurrentRow(static_cast<int>(file - fileNames_.begin()));
}

void frmMain1::Dir1_Change()
{
    // File1 follows Dir1 with the listing read when the folder was opened.
    fileNames_ = std::move(listedFiles_);
    listedFiles_.clear();
    QStringList shown;
    shown.reserve(static_cast<qsizetype>(fileNames_.size()));
    for (const auto& name : fileNames_)
        shown.push_back(decodedName(name));
    File1->setUpdatesEnabled(false);
    File1->clear();
    File1->addItems(shown);
    File1->setUpdatesEnabled(true);

    FolderPath = melodex::listedFolder(dirPath_);
    strFileCount->setText(QString::number(File1->count()));
}

void frmMain1::ColorBox1_Click(int index)
{
    const int n = melodex::listIndex(ColorBox1[index]);
    // A typed colour name has no code: the sample keeps what it showed.
    if (n < 0 || n >= ColorList->count())
        return;
    ColorCode = ColorList->item(n)->text();
    ColorR = ColorCode.mid(0, 3);
    ColorG = ColorCode.mid(3, 3);
    ColorB = static_cast<int16_t>(ColorCode.mid(6, 3).toInt());
    QPalette palette = ColorSample1[index]->palette();
    palette.setColor(QPalette::Window, QColor(ColorR.toInt(), ColorG.toInt(), ColorB));
    ColorSample1[index]->setPalette(palette);
}

void frmMain1::applyOptionSet(const melodex::OptionSet& options)
{
    for (int i = 0; i < melodex::kColumnCount; ++i)
        setListIndex(Combo1[i], options.columns[i]);
    for (int r = 0; r < 4; ++r)
        setListIndex(ColorBox1[r], options.colorIndex[r]);
    {
        // The number boxes' texts are settled already: the bars must not write them again.
        const QSignalBlocker blockEnabled(VScroll1);
        const QSignalBlocker blockBorder(VScroll2);
        VScroll1->setValue(options.enabledColumns);
        VScroll2->setValue(options.border);
    }
    strEnabled1->setWholeText(QString::fromStdString(options.enabledText));
    strBorder1->setWholeText(QString::fromStdString(options.borderText));
    strTitle1->setWholeText(QString::fromStdString(options.title));
    strOutFile1->setWholeText(QString::fromStdString(options.outFile));
    Option1[options.sizeUnit]->setChecked(true);
    m_style_1[static_cast<std::size_t>(options.style)]->setChecked(true);
    if (options.formats != formats_) {
        formats_ = options.formats;
        showFormats();
        rereadFolder();
    }
}

void frmMain1::m_all_formats_Click(bool checked)
{
    formats_ = checked ? melodex::FormatSet::all() : melodex::FormatSet::mp3Only();
    showFormats();
    rereadFolder();
}

void frmMain1::showFormats()
{
    m_all_formats->setChecked(!formats_.isMp3Only());
    // "MP3" would be untrue of the count, and a list of the formats would not
    // fit the label.
    Label5->setText(
        formats_.isMp3Only() ? QStringLiteral("MP3ファイルの数") : QStringLiteral("ファイルの数"));
}

void frmMain1::showNotice(const std::optional<melodex::Notice>& notice)
{
    if (notice)
        dialogs_.messageBox(
            notice->text, melodex::MessageButtons::Ok, melodex::MessageIcon::None, notice->caption);
}

void frmMain1::cmdMakeList1_Click() { MakeList(); }

void frmMain1::MakeList()
{
    // One snapshot for the whole run: the progress dialog is modal, so the
    // controls cannot change under it, and the header and every row agree.
    showNotice(melodex::MakeList(
        optionSetFromControls(), FolderPath, fileNames_, library_, trackTag_, streamInfo_, this));
}

void frmMain1::m_save_1_Click(int index)
{
    showNotice(melodex::SaveOptionSet(index, optionSetFromControls(), dialogs_));
}

void frmMain1::m_save_2_Click()
{
    showNotice(melodex::SaveOptionSet(melodex::kCustomPreset, optionSetFromControls(), dialogs_));
}

void frmMain1::m_read_1_Click(int index) { LoadOptionSet(index); }

void frmMain1::m_read_2_Click() { LoadOptionSet(melodex::kCustomPreset); }

void frmMain1::LoadOptionSet(int preset)
{
    const melodex::PresetLoad load = melodex::LoadOptionSet(preset, optionSetFromControls(), dialogs_);
    showNotice(load.notice);
    if (load.options)
        applyOptionSet(*load.options);
}

void frmMain1::Option1_Click(int index) { SizeUnit = static_cast<int16_t>(index); }

void frmMain1::VScroll1_Change() { strEnabled1->setText(QString::number(VScroll1->value())); }

void frmMain1::VScroll2_Change() { strBorder1->setText(QString::number(VScroll2->value())); }

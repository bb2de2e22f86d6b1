#include "window/frmMain1.h"

#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>

#include "common/folder_listing.h"
#include "common/folder_path.h"
#include "common/mount_table.h"
#include "common/sjis.h"
#include "listgen/out1.h"
#include "window/widgets.h"

namespace {

// Positions and sizes are kept in twips, 15 to a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 8850;
constexpr int kClientHeight = 4515;

// The labels were drawn for a 12-pixel Japanese UI font; Noto Sans CJK at 11
// pixels is the size at which every caption still fits its label.
constexpr const char* kFontFamily = "Noto Sans CJK JP";
constexpr int kFontPixels = 11;

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

QString fromView(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Names that are not UTF-8 are read as the page reads them.
QString decodedName(const std::string& name)
{
    if (melodex::sjis::isUtf8(name))
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    return QString::fromStdString(melodex::sjis::legacyToUtf8(name));
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLineEdit* makeTextBox(QWidget* parent, const char* name, const QString& text, int maxLength)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    if (maxLength > 0)
        box->setMaxLength(maxLength);
    box->setText(text);
    return box;
}

QComboBox* makeChooser(QWidget* parent, const QString& name)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    // Typing names a value; it never becomes an item of the list.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    box->setMaxVisibleItems(12);
    return box;
}

QScrollBar* makeUpDownBar(QWidget* parent, const char* name, int min, int max, int value)
{
    auto* bar = new melodex::UpDownBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(min, max);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setValue(value);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

// Mounts come and go while the window is open: the list is read again each
// time it drops down.
class DriveList : public QComboBox {
public:
    DriveList(std::function<void()> refresh, QWidget* parent) : QComboBox(parent), refresh_(std::move(refresh)) { }
    void showPopup() override
    {
        refresh_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> refresh_;
};

QString indexedName(const char* base, int index) { return QStringLiteral("%1(%2)").arg(QLatin1String(base)).arg(index); }

QString cannotOpenFolder(const QString& reason)
{
    return QStringLiteral("フォルダを開けません。\r\n%1").arg(reason);
}

} // namespace

void LinePitchLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QStringList lines = text().split(QStringLiteral("\r\n"));
    for (int i = 0; i < lines.size(); ++i) {
        const QRect line(0, i * pitch_, width(), pitch_);
        painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, lines[i].trimmed());
    }
}

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

void frmMain1::createControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);
    setCentralWidget(client);

    // Browsing strip.
    Drive1 = new DriveList([this] {
        refreshDrives();
        selectDriveFor(dirPath_);
    }, client);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    place(Drive1, 0, 0, 2655, 300);
    Dir1 = new QListWidget(client);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setUniformItemSizes(true);
    Dir1->setIconSize(QSize(14, 14));
    Dir1->setItemDelegate(new melodex::FullNameTips(Dir1));
    closedFolderIcon_ = style()->standardIcon(QStyle::SP_DirClosedIcon);
    // The open folder takes the closed one's colour, whatever the style.
    QColor folderColour = closedFolderIcon_.pixmap(16).toImage().pixelColor(8, 6);
    if (folderColour.alpha() < 128)
        folderColour = palette().color(QPalette::Highlight);
    openFolderIcon_ = melodex::openFolderIcon(folderColour);
    place(Dir1, 0, 360, 2655, 2190);
    File1 = new QListWidget(client);
    File1->setObjectName(QStringLiteral("File1"));
    // A folder may hold a hundred thousand files: with one height for every
    // row the view never measures them one by one.
    File1->setUniformItemSizes(true);
    File1->setSelectionMode(QAbstractItemView::SingleSelection);
    File1->setItemDelegate(new melodex::FullNameTips(File1));
    place(File1, 0, 2640, 2655, 1530);
    Label5 = makeLabel(client, "Label5", QStringLiteral("MP3ファイルの数"));
    place(Label5, 480, 4200, 1335, 255);
    strFileCount = makeTextBox(client, "strFileCount", QStringLiteral("0"), 0);
    strFileCount->setReadOnly(true);
    place(strFileCount, 1920, 4200, 735, 270);

    // Column choosers.
    Label1 = new LinePitchLabel(180 / kTwipsPerPixel, client);
    Label1->setObjectName(QStringLiteral("Label1"));
    place(Label1, 2760, 120, 255, 3975);
    for (int k = 0; k < 11; ++k) {
        Combo1[k] = makeChooser(client, indexedName("Combo1", k));
        for (const auto item : melodex::kColumnFieldItems)
            Combo1[k]->addItem(fromView(item));
        Combo1[k]->setCurrentIndex(-1); // the edit text is empty until start-up picks an item
        place(Combo1[k], 3120, 240 + 360 * k, 2055, 300);
    }
    Label3 = makeLabel(client, "Label3", QStringLiteral("有効：(1～n)"));
    place(Label3, 3240, 4200, 975, 255);
    // The number boxes show the scroll bars' values; typing into them would
    // only put text in the page the scroll bars no longer agree with.
    strEnabled1 = makeTextBox(client, "strEnabled1", QStringLiteral("11"), 2);
    strEnabled1->setReadOnly(true);
    place(strEnabled1, 4320, 4200, 495, 270);
    VScroll1 = makeUpDownBar(client, "VScroll1", 1, 11, 11);
    place(VScroll1, 4920, 4200, 255, 255);

    // Settings block.
    Label2 = makeLabel(client, "Label2", QStringLiteral("タイトル/見出し"));
    place(Label2, 5280, 240, 1335, 255);
    strTitle1 = makeTextBox(client, "strTitle1", QString(), 32);
    place(strTitle1, 5280, 480, 3495, 270);
    Label4 = makeLabel(client, "Label4", QStringLiteral("出力ファイル名"));
    place(Label4, 5280, 840, 1335, 255);
    strOutFile1 = makeTextBox(client, "strOutFile1", QStringLiteral("list.htm"), 16);
    place(strOutFile1, 5280, 1080, 3495, 270);

    ColorList = new QListWidget(client);
    ColorList->setObjectName(QStringLiteral("ColorList"));
    for (const auto& color : melodex::kPalette)
        ColorList->addItem(fromView(color.code));
    place(ColorList, 6960, 120, 1815, 240);
    ColorList->hide();

    Label6 = makeLabel(client, "Label6", QStringLiteral("背景"));
    place(Label6, 5280, 1560, 855, 255);
    Label7 = makeLabel(client, "Label7", QStringLiteral("TABLE背景"));
    place(Label7, 5280, 1920, 1095, 255);
    Label8 = makeLabel(client, "Label8", QStringLiteral("TABLE文字"));
    place(Label8, 5280, 2280, 1095, 255);
    Label9 = makeLabel(client, "Label9", QStringLiteral("文字"));
    place(Label9, 5280, 2640, 975, 255);
    for (int r = 0; r < 4; ++r) {
        ColorBox1[r] = makeChooser(client, indexedName("ColorBox1", r));
        for (const auto& color : melodex::kPalette)
            ColorBox1[r]->addItem(fromView(color.name));
        ColorBox1[r]->setCurrentIndex(-1);
        place(ColorBox1[r], 6480, 1560 + 360 * r, 1815, 300);
        ColorSample1[r] = new QLabel(client);
        ColorSample1[r]->setObjectName(indexedName("ColorSample1", r));
        ColorSample1[r]->setAutoFillBackground(true);
        ColorSample1[r]->setFrameShape(QFrame::Box);
        place(ColorSample1[r], 8400, 1560 + 360 * r, 375, 255);
    }

    Label10 = makeLabel(client, "Label10", QStringLiteral("枠線の太さ"));
    place(Label10, 5280, 3000, 1095, 255);
    strBorder1 = makeTextBox(client, "strBorder1", QStringLiteral("1"), 2);
    strBorder1->setReadOnly(true);
    place(strBorder1, 6480, 3000, 615, 270);
    VScroll2 = makeUpDownBar(client, "VScroll2", 0, 15, 1);
    place(VScroll2, 7200, 3000, 255, 255);

    Frame1 = new melodex::TitledFrame(QStringLiteral("表示単位"), client);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    place(Frame1, 5280, 3360, 1695, 1095);
    const char* units[] = { "Byte", "KB", "MB" };
    const int unitWidths[] = { 735, 855, 735 };
    for (int i = 0; i < 3; ++i) {
        Option1[i] = new QRadioButton(QString::fromLatin1(units[i]), Frame1);
        Option1[i]->setObjectName(indexedName("Option1", i));
        place(Option1[i], 120, 240 + 240 * i, unitWidths[i], 255);
    }
    Option1[0]->setChecked(true);

    cmdMakeList1 = new QPushButton(QStringLiteral("リスト作成"), client);
    cmdMakeList1->setObjectName(QStringLiteral("cmdMakeList1"));
    place(cmdMakeList1, 7080, 3480, 1695, 495);
    cmdExit1 = new QPushButton(QStringLiteral("終了(&E)"), client);
    cmdExit1->setObjectName(QStringLiteral("cmdExit1"));
    place(cmdExit1, 7080, 3960, 1695, 495);
    // Return presses the button that has the focus, as Space does; neither
    // is a default button that Return in a text box would press.
    for (auto* button : { cmdMakeList1, cmdExit1 }) {
        button->setAutoDefault(true);
        button->setDefault(false);
    }

    for (QLabel* label : { static_cast<QLabel*>(Label1), Label2, Label3, Label4, Label5, Label6, Label7, Label8,
                           Label9, Label10 })
        label->setFocusPolicy(Qt::NoFocus);
}

void frmMain1::createMenus()
{
    QMenuBar* bar = menuBar();
    m_exit = bar->addAction(QStringLiteral("終了"));
    m_exit->setObjectName(QStringLiteral("m_exit"));

    m_save_title = bar->addMenu(QStringLiteral("設定保存"));
    m_save_title->setObjectName(QStringLiteral("m_save_title"));
    for (int k = 0; k < 4; ++k) {
        m_save_1[k] = m_save_title->addAction(QStringLiteral("save%1").arg(k + 1));
        m_save_1[k]->setObjectName(indexedName("m_save_1", k));
    }
    m_save_sep = m_save_title->addSeparator();
    m_save_sep->setObjectName(QStringLiteral("m_save_sep"));
    m_save_2 = m_save_title->addAction(QStringLiteral("カスタム"));
    m_save_2->setObjectName(QStringLiteral("m_save_2"));

    m_read_title = bar->addMenu(QStringLiteral("設定読込"));
    m_read_title->setObjectName(QStringLiteral("m_read_title"));
    for (int k = 0; k < 4; ++k) {
        m_read_1[k] = m_read_title->addAction(QStringLiteral("read%1").arg(k + 1));
        m_read_1[k]->setObjectName(indexedName("m_read_1", k));
    }
    m_read_sep = m_read_title->addSeparator();
    m_read_sep->setObjectName(QStringLiteral("m_read_sep"));
    m_read_2 = m_read_title->addAction(QStringLiteral("カスタム"));
    m_read_2->setObjectName(QStringLiteral("m_read_2"));
}

void frmMain1::setTabOrder()
{
    std::vector<QWidget*> chain { Drive1, Dir1, File1 };
    chain.insert(chain.end(), Combo1.begin(), Combo1.end());
    chain.insert(chain.end(), { strTitle1, strEnabled1, VScroll1, strOutFile1, cmdMakeList1, strFileCount });
    chain.insert(chain.end(), Option1.begin(), Option1.end());
    // ColorList would stand between the third and the fourth chooser, but it
    // is never shown.
    chain.insert(chain.end(), { ColorBox1[0], ColorBox1[1], ColorBox1[2], ColorBox1[3] });
    chain.insert(chain.end(), { cmdExit1, strBorder1, VScroll2 });
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain[i], chain[i + 1]);
    QWidget::setTabOrder(chain.back(), chain.front());
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
    auto* reread = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(reread, &QShortcut::activated, this, [this] { rereadFolder(); });
}

int frmMain1::listIndex(const QComboBox* box)
{
    const QString text = box->currentText();
    const int current = box->currentIndex();
    if (current >= 0 && box->itemText(current) == text)
        return current;
    return box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
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
        set.columns[k] = listIndex(Combo1[k]);
    set.enabledColumns = VScroll1->value();
    set.enabledText = strEnabled1->text().toStdString();
    for (int r = 0; r < 4; ++r) {
        set.colorIndex[r] = listIndex(ColorBox1[r]);
        set.colorText[r] = ColorBox1[r]->currentText().toStdString();
    }
    set.border = VScroll2->value();
    set.borderText = strBorder1->text().toStdString();
    set.sizeUnit = SizeUnit;
    set.title = strTitle1->text().toStdString();
    set.outFile = strOutFile1->text().toStdString();
    return set;
}

void frmMain1::Form_Load()
{
    QString numbers;
    for (int i = 0; i <= 10; ++i) {
        setListIndex(Combo1[i], i);
        melodex::setColumnHeader(i, Combo1[0]->itemText(i).toStdString());
        // Every number has a blank line above it, so that each stands level
        // with its chooser, two lines further down.
        numbers += QStringLiteral("\r\n %1\r\n").arg(i + 1);
    }
    Label1->setText(numbers);

    setListIndex(ColorBox1[0], melodex::kWhite);
    setListIndex(ColorBox1[1], melodex::kWhite);
    setListIndex(ColorBox1[2], melodex::kBlack);
    setListIndex(ColorBox1[3], melodex::kRed);

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
    const auto answer = dialogs_.messageBox(QStringLiteral("終了しますか？"), melodex::MessageButtons::OkCancel,
                                            melodex::MessageIcon::Question, QStringLiteral("終了確認"));
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
    auto files = subfolders.ok ? melodex::listMp3Files(path) : melodex::FolderListing {};
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
    const int n = listIndex(ColorBox1[index]);
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

void frmMain1::Option1_Click(int index) { SizeUnit = static_cast<int16_t>(index); }

void frmMain1::VScroll1_Change() { strEnabled1->setText(QString::number(VScroll1->value())); }

void frmMain1::VScroll2_Change() { strBorder1->setText(QString::number(VScroll2->value())); }

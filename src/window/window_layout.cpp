// Where each control of the window stands, what it shows when it is made,
// the tab order and the menus.

#include <algorithm>
#include <functional>

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include "window/frmMain1.h"
#include "window/widgets.h"

namespace {

// Positions and sizes are kept in twips, 15 to a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 8850;
constexpr int kClientHeight = 4515;
// The column numbers stand on every other line of Label1, level with the
// choosers 360 twips apart.
constexpr int kNumberLinePitch = 180;

enum class Kind {
    DriveList,
    FolderList,
    FileList,
    Label,
    NumberColumn, // Label1: the numbers beside the column choosers
    TextBox,
    NumberBox, // shows a number the program writes; the user cannot type into it
    ColumnChooser,
    ColourChooser,
    CodeList, // ColorList: the palette's codes, a lookup table never shown
    ColourSample,
    UpDownBar,
    Frame,
    OptionButton, // inside the frame made last
    Button,
};

struct Twips {
    int left, top, width, height;
};

struct Settings {
    int maxLength = 0; // text boxes, in characters; 0: no limit
    int min = 0, max = 0, value = 0; // up/down bars; an option button with value 1 is selected
    int index = -1; // the member's index in its control array; -1: not an array
    int count = 1; // members made from the row, each `step` twips below the one before
    int step = 0;
};

struct ControlRow {
    const char* name;
    ControlSlot slot; // the member it goes into
    Kind kind;
    Twips place; // an option button's from its frame's corner
    const char* text = "";
    Settings settings = {};
};

// In the order the controls are made. A chooser is made just before its
// colour sample, row by row.
constexpr ControlRow kControls[] = {
    // Browsing strip.
    { "Drive1", ControlSlot::Drive1, Kind::DriveList, { 0, 0, 2655, 300 } },
    { "Dir1", ControlSlot::Dir1, Kind::FolderList, { 0, 360, 2655, 2190 } },
    { "File1", ControlSlot::File1, Kind::FileList, { 0, 2640, 2655, 1530 } },
    { "Label5", ControlSlot::Label5, Kind::Label, { 480, 4200, 1335, 255 }, "MP3ファイルの数" },
    { "strFileCount", ControlSlot::strFileCount, Kind::NumberBox, { 1920, 4200, 735, 270 }, "0" },
    // Column choosers.
    { "Label1", ControlSlot::Label1, Kind::NumberColumn, { 2760, 120, 255, 3975 } },
    { "Combo1", ControlSlot::Combo1, Kind::ColumnChooser, { 3120, 240, 2055, 300 }, "",
        { .index = 0, .count = melodex::kColumnCount, .step = 360 } },
    { "Label3", ControlSlot::None, Kind::Label, { 3240, 4200, 975, 255 }, "有効：(1～n)" },
    { "strEnabled1", ControlSlot::strEnabled1, Kind::NumberBox, { 4320, 4200, 495, 270 }, "11",
        { .maxLength = 2 } },
    { "VScroll1", ControlSlot::VScroll1, Kind::UpDownBar, { 4920, 4200, 255, 255 }, "",
        { .min = melodex::kEnabledRange.min, .max = melodex::kEnabledRange.max, .value = 11 } },
    // Settings block.
    { "Label2", ControlSlot::None, Kind::Label, { 5280, 240, 1335, 255 }, "タイトル/見出し" },
    { "strTitle1", ControlSlot::strTitle1, Kind::TextBox, { 5280, 480, 3495, 270 }, "", { .maxLength = 32 } },
    { "Label4", ControlSlot::None, Kind::Label, { 5280, 840, 1335, 255 }, "出力ファイル名" },
    { "strOutFile1", ControlSlot::strOutFile1, Kind::TextBox, { 5280, 1080, 3495, 270 }, "list.htm",
        { .maxLength = 16 } },
    { "ColorList", ControlSlot::ColorList, Kind::CodeList, { 6960, 120, 1815, 240 } },
    { "Label6", ControlSlot::None, Kind::Label, { 5280, 1560, 855, 255 }, "背景" },
    { "Label7", ControlSlot::None, Kind::Label, { 5280, 1920, 1095, 255 }, "TABLE背景" },
    { "Label8", ControlSlot::None, Kind::Label, { 5280, 2280, 1095, 255 }, "TABLE文字" },
    { "Label9", ControlSlot::None, Kind::Label, { 5280, 2640, 975, 255 }, "文字" },
    { "ColorBox1", ControlSlot::ColorBox1, Kind::ColourChooser, { 6480, 1560, 1815, 300 }, "",
        { .index = 0 } },
    { "ColorSample1", ControlSlot::ColorSample1, Kind::ColourSample, { 8400, 1560, 375, 255 }, "",
        { .index = 0 } },
    { "ColorBox1", ControlSlot::ColorBox1, Kind::ColourChooser, { 6480, 1920, 1815, 300 }, "",
        { .index = 1 } },
    { "ColorSample1", ControlSlot::ColorSample1, Kind::ColourSample, { 8400, 1920, 375, 255 }, "",
        { .index = 1 } },
    { "ColorBox1", ControlSlot::ColorBox1, Kind::ColourChooser, { 6480, 2280, 1815, 300 }, "",
        { .index = 2 } },
    { "ColorSample1", ControlSlot::ColorSample1, Kind::ColourSample, { 8400, 2280, 375, 255 }, "",
        { .index = 2 } },
    { "ColorBox1", ControlSlot::ColorBox1, Kind::ColourChooser, { 6480, 2640, 1815, 300 }, "",
        { .index = 3 } },
    { "ColorSample1", ControlSlot::ColorSample1, Kind::ColourSample, { 8400, 2640, 375, 255 }, "",
        { .index = 3 } },
    { "Label10", ControlSlot::None, Kind::Label, { 5280, 3000, 1095, 255 }, "枠線の太さ" },
    { "strBorder1", ControlSlot::strBorder1, Kind::NumberBox, { 6480, 3000, 615, 270 }, "1",
        { .maxLength = 2 } },
    { "VScroll2", ControlSlot::VScroll2, Kind::UpDownBar, { 7200, 3000, 255, 255 }, "",
        { .min = melodex::kBorderRange.min, .max = melodex::kBorderRange.max, .value = 1 } },
    { "Frame1", ControlSlot::None, Kind::Frame, { 5280, 3360, 1695, 1095 }, "表示単位" },
    { "Option1", ControlSlot::Option1, Kind::OptionButton, { 120, 240, 735, 255 }, "Byte",
        { .value = 1, .index = 0 } },
    { "Option1", ControlSlot::Option1, Kind::OptionButton, { 120, 480, 855, 255 }, "KB", { .index = 1 } },
    { "Option1", ControlSlot::Option1, Kind::OptionButton, { 120, 720, 735, 255 }, "MB", { .index = 2 } },
    { "cmdMakeList1", ControlSlot::cmdMakeList1, Kind::Button, { 7080, 3480, 1695, 495 }, "リスト作成" },
    { "cmdExit1", ControlSlot::cmdExit1, Kind::Button, { 7080, 3960, 1695, 495 }, "終了(&E)" },
};

QString indexedName(const char* base, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(base)).arg(index);
}

QString fromView(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QComboBox* makeChooser(QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    // Typing names a value; it never becomes an item of the list.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    box->setMaxVisibleItems(12);
    return box;
}

QLineEdit* makeTextBox(QWidget* parent, const ControlRow& row)
{
    auto* box = new melodex::TextBox(row.settings.maxLength, parent);
    box->setText(QString::fromUtf8(row.text));
    return box;
}

QListWidget* makeNameList(QWidget* parent)
{
    auto* list = new QListWidget(parent);
    // A folder may hold a hundred thousand files: with one height for every
    // row the view never measures them one by one.
    list->setUniformItemSizes(true);
    list->setItemDelegate(new melodex::FullNameTips(list));
    return list;
}

QScrollBar* makeUpDownBar(QWidget* parent, const Settings& range)
{
    auto* bar = new melodex::UpDownBar(parent);
    bar->setRange(range.min, range.max);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setValue(range.value);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

QWidget* makeChooserWithItems(QWidget* parent, Kind kind)
{
    QComboBox* box = makeChooser(parent);
    if (kind == Kind::ColumnChooser) {
        // An item's position is its field's number: the chooser's fields come first.
        for (const melodex::FieldRow& field : melodex::kFields) {
            if ((field.places & melodex::kInChooser) != 0)
                box->addItem(fromView(field.chooserText));
        }
    } else {
        for (const auto& colour : melodex::kPalette)
            box->addItem(fromView(colour.name));
    }
    box->setCurrentIndex(-1); // the edit text stays empty until start-up picks an item
    return box;
}

QWidget* makeListControl(QWidget* parent, Kind kind)
{
    if (kind == Kind::FolderList) {
        QListWidget* list = makeNameList(parent);
        list->setIconSize(QSize(14, 14));
        return list;
    }
    if (kind == Kind::FileList) {
        QListWidget* list = makeNameList(parent);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        return list;
    }
    auto* codes = new QListWidget(parent);
    for (const auto& colour : melodex::kPalette)
        codes->addItem(fromView(colour.code));
    codes->hide();
    return codes;
}

QWidget* makeLabelControl(QWidget* parent, const ControlRow& row)
{
    QLabel* label = row.kind == Kind::NumberColumn
        ? new melodex::LinePitchLabel(kNumberLinePitch / kTwipsPerPixel, parent)
        : new QLabel(QString::fromUtf8(row.text), parent);
    label->setFocusPolicy(Qt::NoFocus);
    if (row.kind == Kind::ColourSample) {
        label->setAutoFillBackground(true);
        label->setFrameShape(QFrame::Box);
    }
    return label;
}

QWidget* makeButton(QWidget* parent, const ControlRow& row)
{
    if (row.kind == Kind::OptionButton) {
        auto* option = new QRadioButton(QString::fromUtf8(row.text), parent);
        option->setChecked(row.settings.value == 1);
        return option;
    }
    auto* button = new QPushButton(QString::fromUtf8(row.text), parent);
    // Return presses the button that has the focus, as Space does; neither
    // is a default button that Return in a text box would press.
    button->setAutoDefault(true);
    button->setDefault(false);
    return button;
}

// One control of the table; `frame` holds the option buttons.
QWidget* makeControl(
    const ControlRow& row, QWidget* client, QWidget* frame, const std::function<void()>& refreshDrives)
{
    switch (row.kind) {
    case Kind::DriveList:
        return new melodex::DriveList(refreshDrives, client);
    case Kind::FolderList:
    case Kind::FileList:
    case Kind::CodeList:
        return makeListControl(client, row.kind);
    case Kind::Label:
    case Kind::NumberColumn:
    case Kind::ColourSample:
        return makeLabelControl(client, row);
    case Kind::TextBox:
        return makeTextBox(client, row);
    case Kind::NumberBox: {
        // The program writes these boxes itself: text typed into the column
        // count or the border would reach the page and presets without the
        // scroll bar agreeing.
        QLineEdit* box = makeTextBox(client, row);
        box->setReadOnly(true);
        return box;
    }
    case Kind::ColumnChooser:
    case Kind::ColourChooser:
        return makeChooserWithItems(client, row.kind);
    case Kind::UpDownBar:
        return makeUpDownBar(client, row.settings);
    case Kind::Frame:
        return new melodex::TitledFrame(QString::fromUtf8(row.text), client);
    case Kind::OptionButton:
        return makeButton(frame, row);
    case Kind::Button:
        return makeButton(client, row);
    }
    return nullptr;
}

void place(QWidget* w, const Twips& at, int down)
{
    w->setGeometry(at.left / kTwipsPerPixel, (at.top + down) / kTwipsPerPixel, at.width / kTwipsPerPixel,
        at.height / kTwipsPerPixel);
}

} // namespace

void frmMain1::createControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);
    setCentralWidget(client);

    const auto refreshDrives = [this] {
        this->refreshDrives();
        selectDriveFor(dirPath_);
    };
    QWidget* frame = nullptr;
    for (const ControlRow& row : kControls) {
        for (int i = 0; i < row.settings.count; ++i) {
            QWidget* control = makeControl(row, client, frame, refreshDrives);
            const int index = row.settings.index;
            control->setObjectName(
                index < 0 ? QString::fromLatin1(row.name) : indexedName(row.name, index + i));
            place(control, row.place, i * row.settings.step);
            if (row.kind == Kind::Frame)
                frame = control;
            keepControl(row.slot, i + std::max(index, 0), control);
        }
    }
    makeFolderIcons();
}

namespace {

// The control as the type its member holds. A row whose kind makes another
// type is a mistake in the table, found at the first start of any build.
template <typename T>
T* as(QWidget* control)
{
    auto* typed = dynamic_cast<T*>(control);
    if (typed == nullptr)
        qFatal("control %s is not of its member's type", qPrintable(control->objectName()));
    return typed;
}

} // namespace

void frmMain1::keepLabel(ControlSlot slot, std::size_t at, QLabel* label)
{
    if (slot == ControlSlot::Label5)
        Label5 = label;
    else if (slot == ControlSlot::Label1)
        Label1 = label;
    else
        ColorSample1.at(at) = label;
}

void frmMain1::keepControl(ControlSlot slot, int index, QWidget* control)
{
    const auto at = static_cast<std::size_t>(index);
    switch (slot) {
    case ControlSlot::None:
        break;
    case ControlSlot::Drive1:
        Drive1 = as<QComboBox>(control);
        break;
    case ControlSlot::Dir1:
        Dir1 = as<QListWidget>(control);
        break;
    case ControlSlot::File1:
        File1 = as<QListWidget>(control);
        break;
    case ControlSlot::strFileCount:
        strFileCount = as<QLineEdit>(control);
        break;
    case ControlSlot::Label5:
    case ControlSlot::Label1:
    case ControlSlot::ColorSample1:
        keepLabel(slot, at, as<QLabel>(control));
        break;
    case ControlSlot::Combo1:
        Combo1.at(at) = as<QComboBox>(control);
        break;
    case ControlSlot::strEnabled1:
        strEnabled1 = as<melodex::TextBox>(control);
        break;
    case ControlSlot::VScroll1:
        VScroll1 = as<QScrollBar>(control);
        break;
    case ControlSlot::strTitle1:
        strTitle1 = as<melodex::TextBox>(control);
        break;
    case ControlSlot::strOutFile1:
        strOutFile1 = as<melodex::TextBox>(control);
        break;
    case ControlSlot::ColorList:
        ColorList = as<QListWidget>(control);
        break;
    case ControlSlot::ColorBox1:
        ColorBox1.at(at) = as<QComboBox>(control);
        break;
    case ControlSlot::strBorder1:
        strBorder1 = as<melodex::TextBox>(control);
        break;
    case ControlSlot::VScroll2:
        VScroll2 = as<QScrollBar>(control);
        break;
    case ControlSlot::Option1:
        Option1.at(at) = as<QRadioButton>(control);
        break;
    case ControlSlot::cmdMakeList1:
        cmdMakeList1 = as<QPushButton>(control);
        break;
    case ControlSlot::cmdExit1:
        cmdExit1 = as<QPushButton>(control);
        break;
    }
}

void frmMain1::makeFolderIcons()
{
    closedFolderIcon_ = style()->standardIcon(QStyle::SP_DirClosedIcon);
    // The open folder takes the closed one's colour, whatever the style.
    QColor folderColour = closedFolderIcon_.pixmap(16).toImage().pixelColor(8, 6);
    if (folderColour.alpha() < 128)
        folderColour = palette().color(QPalette::Highlight);
    openFolderIcon_ = melodex::openFolderIcon(folderColour);
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

    m_option_title = bar->addMenu(QStringLiteral("オプション(&O)"));
    m_option_title->setObjectName(QStringLiteral("m_option_title"));
    m_all_formats = m_option_title->addAction(QStringLiteral("すべての音声ファイル"));
    m_all_formats->setObjectName(QStringLiteral("m_all_formats"));
    m_all_formats->setCheckable(true);
    m_option_title->addSeparator();
    auto* styles = new QActionGroup(m_option_title);
    const QString styleTexts[] = { QStringLiteral("クラシックなページ"), QStringLiteral("モダンなページ") };
    for (std::size_t k = 0; k < m_style_1.size(); ++k) {
        m_style_1[k] = m_option_title->addAction(styleTexts[k]);
        m_style_1[k]->setObjectName(indexedName("m_style_1", static_cast<int>(k)));
        m_style_1[k]->setCheckable(true);
        styles->addAction(m_style_1[k]);
    }
    m_style_1[static_cast<std::size_t>(melodex::PageStyle::Classic)]->setChecked(true);
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

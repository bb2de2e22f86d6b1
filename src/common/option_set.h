#pragma once
// The Option set: everything a List document is made from, as the window's
// controls hold it. The window reads it from its controls in one go when a
// command starts; presets and the command line fill the same structure.
// The fields a column can show and the ranges of the numbers live here once;
// the window's choosers, the preset store, the command line and the page
// writer all read them from here.

#include "common/audio_format.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace melodex {

inline constexpr int kColumnCount = 11;

// What a column shows. A field's number is stored in INI files ("Combo_03= 2")
// and is its item's position in the window's choosers: numbers never change,
// and a new field takes the next one.
enum class Field : int {
    File,
    Track,
    Artist,
    Album,
    Year,
    Comment,
    Genre,
    Size,
    Time,
    BitRate,
    SampleRate,
    None, // "なし": the column shows nothing
};

// Where a field may appear, as bits of FieldRow::places.
enum FieldPlace : unsigned {
    kInChooser = 1u << 0, // the window's choosers, and so the INI file
    kOnClassicPage = 1u << 1, // the List document as the window writes it
    kInCommandLine = 1u << 2, // --columns, and pages made from the command line alone
};
inline constexpr unsigned kEveryPlace = kInChooser | kOnClassicPage | kInCommandLine;

struct FieldRow {
    Field field;
    std::string_view cliName; // its word in --columns
    std::string_view chooserText; // its item in the choosers, and its column's header
    unsigned places;
};

inline constexpr auto kFields = std::to_array<FieldRow>({
    { Field::File, "file", "ファイル名", kEveryPlace },
    { Field::Track, "track", "トラック名", kEveryPlace },
    { Field::Artist, "artist", "アーティスト名", kEveryPlace },
    { Field::Album, "album", "アルバム名", kEveryPlace },
    { Field::Year, "year", "作成年", kEveryPlace },
    { Field::Comment, "comment", "コメント", kEveryPlace },
    { Field::Genre, "genre", "ジャンル名", kEveryPlace },
    { Field::Size, "size", "ファイルサイズ", kEveryPlace },
    { Field::Time, "time", "トータルタイム", kEveryPlace },
    { Field::BitRate, "bitrate", "ビットレート", kEveryPlace },
    { Field::SampleRate, "samplerate", "サンプリングレート", kEveryPlace },
    { Field::None, "none", "なし", kEveryPlace },
});

// The row of a field number, or nullptr when no field has that number.
constexpr const FieldRow* fieldRow(int number)
{
    return number >= 0 && number < static_cast<int>(kFields.size())
        ? &kFields[static_cast<std::size_t>(number)]
        : nullptr;
}

// By index rather than through fieldRow: GCC's undefined-behaviour
// sanitizer makes a pointer's comparison with nullptr no constant expression.
constexpr bool fieldAppearsIn(int number, FieldPlace place)
{
    return number >= 0 && number < static_cast<int>(kFields.size())
        && (kFields[static_cast<std::size_t>(number)].places & place) != 0;
}

// A chooser's item position is the field's number, so the fields it offers
// are the first rows, with none missing in between.
constexpr int chooserFieldCount()
{
    int count = 0;
    while (count < static_cast<int>(kFields.size()) && fieldAppearsIn(count, kInChooser))
        ++count;
    return count;
}

constexpr bool fieldTableIsInOrder()
{
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        if (static_cast<std::size_t>(kFields[i].field) != i)
            return false;
        if (fieldAppearsIn(static_cast<int>(i), kInChooser) && static_cast<int>(i) >= chooserFieldCount())
            return false;
    }
    return true;
}
static_assert(fieldTableIsInOrder(), "a field's row stands at its number; chooser fields come first");
static_assert(static_cast<int>(Field::None) == 11, "INI files store \"なし\" as 11");

struct PaletteColor {
    std::string_view name;
    std::string_view code; // RRRGGGBBB, three decimal digits each
};

inline constexpr auto kPalette = std::to_array<PaletteColor>({
    { "BLACK", "000000000" },
    { "BLUE", "000000255" },
    { "CYAN", "000255255" },
    { "DARKBLUE", "000000139" },
    { "DARKCYAN", "000139139" },
    { "DARKGREEN", "000100000" },
    { "DARKORANGE", "255140000" },
    { "DARKRED", "139000000" },
    { "DARKSEAGREEN", "143188143" },
    { "DEEPPINK", "255000147" },
    { "DEEPSKYBLUE", "000191255" },
    { "FORESTGREEN", "034139034" },
    { "GRAY", "128128128" },
    { "GREEN", "000128000" },
    { "HOTPINK", "255105180" },
    { "KHAKI", "240230140" },
    { "LAVENDER", "230230250" },
    { "LAVENDERBLUSH", "255240245" },
    { "LEMONCHIFFON", "255250205" },
    { "LIGHTBLUE", "173216230" },
    { "LIGHTCORAL", "240128128" },
    { "LIGHTGRAY", "211211211" },
    { "LIGHTPINK", "255182193" },
    { "LIGHTYELLOW", "255255224" },
    { "ORANGE", "255165000" },
    { "PURPLE", "128000128" },
    { "RED", "255000000" },
    { "SKYBLUE", "135206235" },
    { "WHITE", "255255255" },
    { "YELLOW", "255255000" },
});

inline constexpr int kWhite = 28;
inline constexpr int kBlack = 0;
inline constexpr int kRed = 26;

enum SizeUnitValue : int { kSizeByte = 0, kSizeKB = 1, kSizeMB = 2 };

// The values a number control takes, both ends included.
struct ValueRange {
    int min, max;
    constexpr bool contains(int value) const { return value >= min && value <= max; }
};

inline constexpr ValueRange kEnabledRange { 1, kColumnCount }; // VScroll1
inline constexpr ValueRange kBorderRange { 0, 15 }; // VScroll2
inline constexpr ValueRange kSizeUnitRange { kSizeByte, kSizeMB }; // Option1
// A chooser's list position; -1 where its text matches none of its items.
inline constexpr int kNoItem = -1;
inline constexpr ValueRange kColumnFieldRange { kNoItem, chooserFieldCount() - 1 }; // Combo1
inline constexpr ValueRange kPaletteIndexRange { kNoItem,
    static_cast<int>(kPalette.size()) - 1 }; // ColorBox1

// The look of the page: the classic table is the default and what every
// INI file written before the choice existed loads as.
enum class PageStyle : std::uint8_t { Classic, Modern };

// Its word in the INI file's Style= key and on the command line.
inline constexpr auto kPageStyleNames = std::to_array<std::string_view>({ "classic", "modern" });

constexpr std::string_view pageStyleName(PageStyle style)
{
    return kPageStyleNames[static_cast<std::size_t>(style)];
}

// The style a word names, letter case ignored; nothing for any other word.
constexpr std::optional<PageStyle> parsePageStyle(std::string_view word)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < kPageStyleNames.size(); ++i) {
        const std::string_view name = kPageStyleNames[i];
        bool same = word.size() == name.size();
        for (std::size_t k = 0; same && k < name.size(); ++k)
            same = lower(word[k]) == name[k];
        if (same)
            return static_cast<PageStyle>(i);
    }
    return std::nullopt;
}

// Texts are UTF-8. Indices keep the window's meaning: -1 where a combo box's
// text matches none of its items.
struct OptionSet {
    std::array<int, kColumnCount> columns { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 }; // Combo1(k).ListIndex
    int enabledColumns = kColumnCount; // VScroll1.Value: the writer uses this
    std::string enabledText = "11"; // strEnabled1.Text: presets store this
    std::array<int, 4> colorIndex { kWhite, kWhite, kBlack, kRed }; // ColorBox1(r).ListIndex
    std::array<std::string, 4> colorText { "WHITE", "WHITE", "BLACK",
        "RED" }; // ColorBox1(r).Text: the page uses this
    int border = 1; // VScroll2.Value
    std::string borderText = "1"; // strBorder1.Text: the page and presets use this
    int sizeUnit = kSizeByte; // SizeUnit
    std::string title; // strTitle1.Text
    std::string outFile = "list.htm"; // strOutFile1.Text
    PageStyle style = PageStyle::Classic;
    FormatSet formats = FormatSet::mp3Only(); // which files of the folder are listed

    bool operator==(const OptionSet&) const = default;
};

} // namespace melodex

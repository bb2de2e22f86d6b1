#pragma once
// The Option set: everything a List document is made from, as the window's
// controls hold it. The window reads it from its controls in one go when a
// command starts; presets and the command line fill the same structure.

#include <array>
#include <string>
#include <string_view>

namespace melodex {

inline constexpr int kColumnCount = 11;
inline constexpr int kFieldNone = 11; // "なし": the column shows nothing

struct PaletteColor {
    std::string_view name;
    std::string_view code; // RRRGGGBBB, three decimal digits each
};

inline constexpr std::array<PaletteColor, 30> kPalette = { {
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
} };

inline constexpr int kWhite = 28;
inline constexpr int kBlack = 0;
inline constexpr int kRed = 26;

enum SizeUnitValue : int { kSizeByte = 0, kSizeKB = 1, kSizeMB = 2 };

// Texts are UTF-8. Indices keep the window's meaning: -1 where a combo box's
// text matches none of its items.
struct OptionSet {
    std::array<int, kColumnCount> columns { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 }; // Combo1(k).ListIndex
    int enabledColumns = 11; // VScroll1.Value: the writer uses this
    std::string enabledText = "11"; // strEnabled1.Text: presets store this
    std::array<int, 4> colorIndex { kWhite, kWhite, kBlack, kRed }; // ColorBox1(r).ListIndex
    std::array<std::string, 4> colorText { "WHITE", "WHITE", "BLACK",
        "RED" }; // ColorBox1(r).Text: the page uses this
    int border = 1; // VScroll2.Value
    std::string borderText = "1"; // strBorder1.Text: the page and presets use this
    int sizeUnit = kSizeByte; // SizeUnit
    std::string title; // strTitle1.Text
    std::string outFile = "list.htm"; // strOutFile1.Text

    bool operator==(const OptionSet&) const = default;
};

} // namespace melodex

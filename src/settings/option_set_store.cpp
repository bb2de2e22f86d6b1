#include "settings/option_set_store.h"

#include "common/decimal_text.h"
#include "common/text_rules.h"
#include "settings/ini_text.h"

#include <climits>

namespace melodex {
namespace {

// IniGetInt hands back its default for an absent key and for a value that is no
// number; this one can never be a stored value the controls take.
constexpr int kUnusable = INT_MIN;

std::string comboKey(int i) { return "Combo_" + twoDigits(i); }
std::string colorKey(int i) { return "Color_" + twoDigits(i); }

// The stored number, or defaultValue when it is absent, no number, or outside
// what the control accepts.
int readRanged(const IniSection& section, const std::string& key, int defaultValue, ValueRange range)
{
    const int n = section.getInt(key, kUnusable);
    return range.contains(n) ? n : defaultValue;
}

// A number box and its scroll bar share one key. When the number is unusable
// the key is ignored as a whole, or the box would show text its bar disowns.
void readBoxAndBar(const IniSection& section, const std::string& key, ValueRange range, int defaultValue,
    const std::string& defaultText, int& value, std::string& text)
{
    value = readRanged(section, key, kUnusable, range);
    if (value == kUnusable) {
        value = defaultValue;
        text = defaultText;
    } else {
        text = section.getString(key, defaultText);
    }
}

} // namespace

std::string numberedPresetName(int index)
{
    // The name is made in a field of 20 characters and trimmed, as the numbered
    // menu items always did; for 0 to 3 that is "save_key_" + " 0" ... " 3".
    return std::string(trim(("save_key_" + spacedDecimal(index)).substr(0, 20)));
}

bool isBlankPresetName(const std::string& name) { return trim(name).empty(); }

PresetRead readPreset(const std::string& name)
{
    PresetRead result;
    if (isBlankPresetName(name))
        return result;
    const auto section = IniGetSection(name, &result.error);
    if (!section)
        return result;
    result.fileExists = section->fileExists;
    result.found = section->found;

    const OptionSet defaults;
    OptionSet& s = result.options.emplace();
    const IniSection& stored = *section;
    for (int i = 0; i < kColumnCount; ++i)
        s.columns[i] = readRanged(stored, comboKey(i), defaults.columns[i], kColumnFieldRange);
    for (int i = 0; i < 4; ++i) {
        s.colorIndex[i] = readRanged(stored, colorKey(i), defaults.colorIndex[i], kPaletteIndexRange);
        s.colorText[i] = s.colorIndex[i] >= 0 ? std::string(kPalette[s.colorIndex[i]].name) : std::string();
    }

    readBoxAndBar(stored, "Enabled", kEnabledRange, defaults.enabledColumns, defaults.enabledText,
        s.enabledColumns, s.enabledText);
    readBoxAndBar(
        stored, "Border", kBorderRange, defaults.border, defaults.borderText, s.border, s.borderText);

    s.title = stored.getString("Title", defaults.title);
    s.outFile = stored.getString("OutFile", defaults.outFile);
    s.sizeUnit = readRanged(stored, "FileSize", defaults.sizeUnit, kSizeUnitRange);
    s.formats = FormatSet::parse(stored.getString("Formats", "")).value_or(defaults.formats);
    s.style = parsePageStyle(stored.getString("Style", "")).value_or(defaults.style);
    return result;
}

void settleNumberBoxes(OptionSet& loaded, const OptionSet& before)
{
    if (loaded.enabledColumns != before.enabledColumns)
        loaded.enabledText = std::to_string(loaded.enabledColumns);
    if (loaded.border != before.border)
        loaded.borderText = std::to_string(loaded.border);
}

bool writeOptionSet(const std::string& name, const OptionSet& options, IniError* error, const LockWait& wait)
{
    if (isBlankPresetName(name))
        return true;
    IniValues values;
    // Refused rather than cut: a preset must load back as it was saved.
    auto text = [&](const char* key, const std::string& value) {
        const std::size_t size = IniStoredSize(value);
        if (size > kIniReadableBytes) {
            if (error)
                *error = IniError { IniFilePath(),
                    std::string(key) + " is too long to be stored (" + std::to_string(size)
                        + " bytes in the file, at most " + std::to_string(kIniReadableBytes) + ")" };
            return false;
        }
        values.emplace_back(key, initext::quoteIfNeeded(value));
        return true;
    };
    for (int i = 0; i < kColumnCount; ++i)
        values.emplace_back(comboKey(i), spacedDecimal(options.columns[i]));
    for (int i = 0; i < 4; ++i)
        values.emplace_back(colorKey(i), spacedDecimal(options.colorIndex[i]));
    if (!text("Enabled", options.enabledText) || !text("Border", options.borderText))
        return false;
    values.emplace_back("FileSize", spacedDecimal(options.sizeUnit));
    if (!text("Title", options.title) || !text("OutFile", options.outFile))
        return false;
    // Keys that came after the first twenty are written when they differ
    // from what their absence reads as, so that a preset of the defaults is
    // the file older versions wrote; where the section holds one already it
    // is rewritten, or a choice undone would come back on the next load.
    IniValues ifPresent;
    const OptionSet defaults;
    const auto later = [&](const char* key, std::string value, bool isDefault) {
        (isDefault ? ifPresent : values).emplace_back(key, std::move(value));
    };
    later("Formats", options.formats.text(), options.formats == defaults.formats);
    later("Style", std::string(pageStyleName(options.style)), options.style == defaults.style);
    return IniPutSection(name, values, error, wait, ifPresent);
}

} // namespace melodex

#include "cli/cli_list.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <sstream>

#include <signal.h>

#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "cli/cli_presets.h"
#include "common/folder_listing.h"
#include "common/folder_path.h"
#include "common/text_rules.h"
#include "listgen/index_page.h"
#include "listgen/list_document.h"
#include "trackinfo/track_details.h"
#include "trackinfo/vbmp3.h"

namespace melodex::cli {
namespace {

// The --columns words, in the table's order, separated by `separator`.
std::string fieldNames(std::string_view separator)
{
    std::string names;
    for (const FieldRow& row : kFields) {
        if ((row.places & kInCommandLine) == 0)
            continue;
        if (!names.empty())
            names += separator;
        names += row.cliName;
    }
    return names;
}

// The field a --columns word names, or nothing.
std::optional<Field> fieldNamed(std::string_view word)
{
    for (const FieldRow& row : kFields) {
        if ((row.places & kInCommandLine) != 0 && row.cliName == word)
            return row.field;
    }
    return std::nullopt;
}

std::string rangeText(ValueRange range)
{
    return std::to_string(range.min) + " to " + std::to_string(range.max);
}

std::string columnsHelp()
{
    const OptionSet start;
    std::string defaults;
    for (int i = 0; i < start.enabledColumns; ++i) {
        const FieldRow* row = fieldRow(start.columns[static_cast<std::size_t>(i)]);
        defaults += (i == 0 ? "" : ",") + std::string(row->cliName);
    }
    return "Comma-separated fields, one per column, at most " + std::to_string(kColumnCount) + ": "
        + fieldNames(", ") + " (default: " + defaults + ")";
}

std::vector<std::string_view> paletteNames()
{
    std::vector<std::string_view> names;
    names.reserve(kPalette.size());
    for (const PaletteColor& c : kPalette)
        names.push_back(c.name);
    return names;
}

// The palette's names, as --colors takes them (any letter case).
std::string colorList()
{
    std::string list;
    for (const PaletteColor& c : kPalette)
        list += (list.empty() ? "" : ", ") + std::string(c.name);
    return list;
}

std::vector<std::string> splitList(const std::string& s)
{
    std::vector<std::string> items;
    std::stringstream in(s);
    for (std::string item; std::getline(in, item, ',');)
        items.push_back(asciiLower(std::string(trim(item, kBlanks))));
    if (!s.empty() && s.back() == ',')
        items.emplace_back();
    return items;
}

// The four --colors names into the set; why not, for a name the palette lacks.
std::optional<std::string> applyColors(const std::string& given, OptionSet& set)
{
    const auto names = splitList(given);
    if (names.size() != set.colorText.size())
        return "--colors: four colours are needed (page, table, table text, title), not "
            + std::to_string(names.size());
    for (std::size_t r = 0; r < names.size(); ++r) {
        const auto found = std::find_if(kPalette.begin(), kPalette.end(),
            [&](const PaletteColor& c) { return asciiLower(std::string(c.name)) == names[r]; });
        if (found == kPalette.end())
            return "--colors: \"" + names[r] + "\" is not a palette colour"
                + didYouMean(names[r], paletteNames()) + "; the colours are " + colorList();
        set.colorIndex[r] = static_cast<int>(found - kPalette.begin());
        set.colorText[r] = std::string(found->name);
    }
    return std::nullopt;
}

// Ctrl-C during a run cancels it like the window's Cancel button, and so do
// the signals that end a process politely (kill, a closed terminal): the
// temporary file is removed and the previous list stays.
std::atomic<bool> interrupted { false };
extern "C" void onInterrupt(int) { interrupted = true; }

class InterruptGuard {
public:
    InterruptGuard()
    {
        interrupted = false;
        struct sigaction action { };
        action.sa_handler = onInterrupt;
        action.sa_flags = SA_RESTART; // the flag is looked at between files; reads need not fail for it
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], &action, &previous_[i]);
    }
    ~InterruptGuard()
    {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    static constexpr std::array<int, 3> kSignals { SIGINT, SIGTERM, SIGHUP };
    std::array<struct sigaction, 3> previous_ {};
};

// A one-line bar on stderr, redrawn a few times a second at most.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, bool enabled, std::string label)
        : err_(err)
        , enabled_(enabled)
        , label_(std::move(label))
    {
    }
    ~ProgressBar()
    {
        if (drawn_)
            err_ << "\r\033[K" << std::flush;
    }

    bool operator()(int done, int total)
    {
        if (interrupted)
            return false;
        if (!enabled_)
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ && done != total && now - last_ < std::chrono::milliseconds(100))
            return true;
        last_ = now;
        drawn_ = true;
        constexpr int kWidth = 30;
        const int filled = total > 0 ? static_cast<int>(static_cast<int64_t>(done) * kWidth / total) : kWidth;
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << done << "/" << total
             << " " << label_ << "\033[K" << std::flush;
        return true;
    }

private:
    std::ostream& err_;
    bool enabled_;
    std::string label_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_ {};
};

struct FolderOutcome {
    enum Kind { Written, NoMp3Files, Unreadable, WriteFailed, Cancelled } kind;
    int files = 0;
    int unopened = 0; // files that could not be opened: their rows say "unreadable"
    FolderTotals totals {}; // what the page counted, for the index
};

// The files of a run that were not audio, said once the progress bar is
// gone: a line drawn over the bar would be half erased by its next redraw.
struct FileNotes {
    std::vector<std::string> lines;
    int unopened = 0;
};

// The page's reader, which also keeps why a file gave no audio.
TrackReader notingReader(FileNotes& notes, bool verbose)
{
    return [&notes, verbose](const std::string& path, TrackTag& tag, StreamInfo& info) -> int32_t {
        const trackinfo::TrackDetails d = trackinfo::readTrackDetails(path.c_str());
        trackinfo::putDetails(d, tag, info);
        if (d.openError != 0) {
            ++notes.unopened;
            notes.lines.push_back(escapeForTerminal(path) + ": " + std::strerror(d.openError));
        } else if (verbose && !d.readable) {
            notes.lines.push_back(escapeForTerminal(path) + ": "
                + escapeForTerminal(d.problem.empty() ? std::string("no audio found") : d.problem));
        }
        return d.readable ? 1 : 0;
    };
}

std::string noFilesText(const OptionSet& options)
{
    return options.formats.isMp3Only() ? std::string("no MP3 files")
                                       : "no audio files (" + options.formats.text() + ")";
}

FolderOutcome listFolder(
    Context& ctx, const OptionSet& options, const std::string& folder, TrackTag& tag, StreamInfo& info)
{
    const std::string shown = shownFolder(folder);
    const FolderListing listing = listAudioFiles(folder, options.formats);
    if (!listing.ok) {
        error(ctx) << "cannot read folder: " << escapeForTerminal(listing.error) << "\n";
        return { FolderOutcome::Unreadable };
    }
    if (listing.names.empty())
        return { FolderOutcome::NoMp3Files };
    FileNotes notes;
    FolderTotals totals;
    ListResult r;
    {
        ProgressBar bar(ctx.err, ctx.errIsTerminal && !ctx.quiet, escapeForTerminal(shown));
        r = writeListDocument(options, folder, listing.names, tag, info,
            countingReader(notingReader(notes, ctx.verbose), totals), std::ref(bar));
    }
    for (const std::string& line : notes.lines)
        error(ctx) << line << "\n";
    const int files = static_cast<int>(listing.names.size());
    switch (r.status) {
    case ListResult::Status::Success:
        return { FolderOutcome::Written, files, notes.unopened, totals };
    case ListResult::Status::Cancelled:
        return { FolderOutcome::Cancelled, files, notes.unopened };
    case ListResult::Status::Failed:
        break;
    }
    error(ctx) << "file i/o error: " << escapeForTerminal(r.reason) << "\n";
    return { FolderOutcome::WriteFailed, files, notes.unopened };
}

std::vector<std::string> foldersToList(Context& ctx, const std::string& root)
{
    FolderListing folders = foldersBelow(root);
    if (!folders.ok)
        error(ctx) << "cannot read folder: " << escapeForTerminal(folders.error) << "\n";
    return std::move(folders.names);
}

// The Option set of a run: the preset's, then the options given. Nothing,
// with the reason on stderr and the exit code set, when one is refused.
std::optional<OptionSet> runOptions(
    Context& ctx, const std::optional<std::string>& preset, const ListOptions& given)
{
    OptionSet options;
    if (preset) {
        if (auto why = loadPreset(*preset, options)) {
            error(ctx) << escapeForTerminal(*why) << "\n";
            ctx.exitCode = kExitFailure;
            return std::nullopt;
        }
    }
    if (auto why = applyListOptions(given, options)) {
        error(ctx) << escapeForTerminal(*why) << "\n";
        ctx.exitCode = kExitUsage;
        return std::nullopt;
    }
    // A preset file may come from anywhere; its OutFile is held to the rule
    // --output is, before anything is read or written.
    if (preset && !given.output) {
        if (auto why = checkCliOutputName(options.outFile, options.formats)) {
            error(ctx) << "--preset " << escapeForTerminal(*preset)
                       << ": OutFile: " << escapeForTerminal(*why) << "\n";
            ctx.exitCode = kExitFailure;
            return std::nullopt;
        }
    }
    return options;
}

void reportFolder(Context& ctx, const OptionSet& options, const std::string& folder, const FolderOutcome& o)
{
    switch (o.kind) {
    case FolderOutcome::Written:
        if (!ctx.quiet)
            ctx.err << "Success: " << escapeForTerminal(listDocumentPath(folder, options.outFile)) << " ("
                    << o.files << " files)\n";
        ctx.exitCode = o.unopened > 0 ? kExitFilesUnopened : kExitOk;
        break;
    case FolderOutcome::NoMp3Files:
        error(ctx) << noFilesText(options) << " in " << escapeForTerminal(shownFolder(folder)) << "\n";
        ctx.exitCode = kExitNoMp3Files;
        break;
    case FolderOutcome::Unreadable:
        ctx.exitCode = kExitFailure;
        break;
    case FolderOutcome::WriteFailed:
        ctx.exitCode = kExitWriteFailed;
        break;
    case FolderOutcome::Cancelled:
        error(ctx) << "interrupted: the previous list is unchanged\n";
        ctx.exitCode = kExitFailure;
        break;
    }
}

// What a recursive run did: one summary line, and the exit code of the worst
// outcome.
struct RunSummary {
    int written = 0, failed = 0, unreadable = 0, files = 0, unopened = 0;
    bool cancelled = false;
};

void reportSummary(Context& ctx, const RunSummary& s)
{
    if (!ctx.quiet) {
        ctx.err << s.written << (s.written == 1 ? " list" : " lists") << " written (" << s.files << " files)";
        if (s.unopened)
            ctx.err << ", " << s.unopened << (s.unopened == 1 ? " file" : " files") << " not opened";
        if (s.failed)
            ctx.err << ", " << s.failed << " failed";
        if (s.unreadable)
            ctx.err << ", " << s.unreadable << (s.unreadable == 1 ? " folder" : " folders") << " unreadable";
        if (s.cancelled)
            ctx.err << ", interrupted";
        ctx.err << "\n";
    }
    // The worst outcome counts: a list not written, then a folder not read,
    // then files not read, then nothing to list.
    if (s.failed)
        ctx.exitCode = kExitWriteFailed;
    else if (s.cancelled || s.unreadable)
        ctx.exitCode = kExitFailure;
    else if (s.unopened)
        ctx.exitCode = kExitFilesUnopened;
    else if (s.written == 0)
        ctx.exitCode = kExitNoMp3Files;
    else
        ctx.exitCode = kExitOk;
}

RunSummary listRecursively(Context& ctx, const OptionSet& options, const std::string& root, TrackTag& tag,
    StreamInfo& info, std::vector<IndexedFolder>& written)
{
    RunSummary s;
    for (const std::string& f : foldersToList(ctx, root)) {
        const FolderOutcome o = listFolder(ctx, options, f, tag, info);
        s.unopened += o.unopened;
        if (o.kind == FolderOutcome::Written) {
            written.push_back({ f, o.totals });
            ++s.written;
            s.files += o.files;
            if (!ctx.quiet)
                ctx.err << "wrote " << escapeForTerminal(listDocumentPath(f, options.outFile)) << " ("
                        << o.files << " files)\n";
        } else if (o.kind == FolderOutcome::WriteFailed) {
            ++s.failed;
        } else if (o.kind == FolderOutcome::Unreadable) {
            ++s.unreadable;
        } else if (o.kind == FolderOutcome::Cancelled) {
            s.cancelled = true;
            break;
        }
    }
    return s;
}

// The index of a finished tree run; a run cut short or with nothing
// written leaves the previous index alone.
void writeIndex(Context& ctx, const OptionSet& options, const std::string& root, const std::string& name,
    const std::vector<IndexedFolder>& written, const RunSummary& summary)
{
    if (summary.cancelled || written.empty()) {
        ctx.err << "no index written\n";
        return;
    }
    const ListResult r = writeIndexPage(options, root, name, written);
    if (!r.ok()) {
        ctx.err << "file i/o error\n" << escapeForTerminal(r.reason) << "\n";
        ctx.exitCode = kExitWriteFailed;
        return;
    }
    ctx.err << "wrote index " << escapeForTerminal(r.path) << " (" << written.size()
            << (written.size() == 1 ? " list)\n" : " lists)\n");
}

void runList(Context& ctx, const std::string& folderArg, const std::optional<std::string>& preset,
    const ListOptions& given, bool recursive)
{
    const std::optional<OptionSet> options = runOptions(ctx, preset, given);
    if (!options)
        return;
    if (given.index) {
        if (auto why = checkIndexName(*given.index, *options)) {
            ctx.err << "list: --index: " << escapeForTerminal(*why) << "\n";
            ctx.exitCode = kExitUsage;
            return;
        }
    }
    const std::string folder = listedFolder(folderArg);
    InterruptGuard guard;
    vbmp3_init();
    TrackTag tag {};
    StreamInfo info {};
    if (recursive) {
        std::vector<IndexedFolder> written;
        const RunSummary summary = listRecursively(ctx, *options, folder, tag, info, written);
        vbmp3_free();
        reportSummary(ctx, summary);
        if (given.index)
            writeIndex(ctx, *options, folder, *given.index, written, summary);
    } else {
        reportFolder(ctx, *options, folder, listFolder(ctx, *options, folder, tag, info));
        vbmp3_free();
    }
}

// --style and --group, and what the style can show: the classic page has
// no room for the fields only the modern one shows, nor for album sections.
std::optional<std::string> applyPageOptions(const ListOptions& given, OptionSet& set)
{
    if (given.style) {
        const auto style = parsePageStyle(trim(*given.style, kBlanks));
        if (!style)
            return "--style: classic or modern, not \"" + *given.style + "\"";
        set.style = *style;
    }
    if (given.group) {
        if (asciiLower(std::string(trim(*given.group, kBlanks))) != "album")
            return "--group: album, not \"" + *given.group + "\"";
        set.grouping = PageGrouping::Album;
    }
    if (set.style == PageStyle::Modern)
        return std::nullopt;
    if (set.grouping != PageGrouping::None)
        return std::string("--group: only the modern page groups its rows (--style modern)");
    for (int i = 0; i < set.enabledColumns; ++i) {
        const int field = set.columns[static_cast<std::size_t>(i)];
        if (!fieldAppearsIn(field, kOnClassicPage) && fieldAppearsIn(field, kOnModernPage))
            return "--columns: \"" + std::string(fieldRow(field)->cliName)
                + "\" is shown by the modern page only (--style modern)";
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> applyListOptions(const ListOptions& given, OptionSet& base)
{
    OptionSet set = base;
    if (given.formats) {
        std::string bad;
        const auto formats = FormatSet::parse(*given.formats, &bad);
        if (!formats)
            return "--formats: " + formatsError(bad);
        set.formats = *formats;
    }
    if (given.title)
        set.title = *given.title;
    if (given.output) {
        if (auto why = checkCliOutputName(*given.output, set.formats))
            return "--output: " + *why;
        set.outFile = *given.output;
    }
    if (given.columns) {
        const auto names = splitList(*given.columns);
        if (names.empty())
            return std::string("--columns: at least one column");
        if (names.size() > static_cast<std::size_t>(kColumnCount))
            return "--columns: at most " + std::to_string(kColumnCount) + " columns, not "
                + std::to_string(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::optional<Field> field = fieldNamed(names[i]);
            if (!field)
                return "--columns: unknown field \"" + names[i] + "\" (" + fieldNames(", ") + ")";
            set.columns[i] = static_cast<int>(*field);
        }
        set.enabledColumns = static_cast<int>(names.size());
        set.enabledText = std::to_string(set.enabledColumns);
    }
    if (given.colors) {
        if (auto why = applyColors(*given.colors, set))
            return why;
    }
    if (given.border) {
        if (!kBorderRange.contains(*given.border))
            return "--border: " + rangeText(kBorderRange) + ", not " + std::to_string(*given.border);
        set.border = *given.border;
        set.borderText = std::to_string(*given.border);
    }
    if (given.unit) {
        const std::string unit = asciiLower(std::string(trim(*given.unit, kBlanks)));
        if (unit == "byte")
            set.sizeUnit = kSizeByte;
        else if (unit == "kb")
            set.sizeUnit = kSizeKB;
        else if (unit == "mb")
            set.sizeUnit = kSizeMB;
        else
            return "--unit: byte, kb or mb, not \"" + *given.unit + "\"";
    }
    if (auto why = applyPageOptions(given, set))
        return why;
    base = set;
    return std::nullopt;
}

namespace {

// The list command's values as CLI11 fills them, and the options they came
// from: a value counts only when its option was given.
struct ListArgs {
    std::string folder;
    std::string title, output, columns, colors, unit, preset, style, group, formats;
    int border = 0;
    std::string index;
    bool recursive = false;
    CLI::Option *titleOption = nullptr, *outputOption = nullptr, *columnsOption = nullptr,
                *colorsOption = nullptr, *borderOption = nullptr, *unitOption = nullptr,
                *presetOption = nullptr, *styleOption = nullptr, *groupOption = nullptr,
                *formatsOption = nullptr, *indexOption = nullptr;

    ListOptions given() const
    {
        ListOptions g;
        const auto take = [](CLI::Option* option, const auto& value, auto& into) {
            if (option->count())
                into = value;
        };
        take(formatsOption, formats, g.formats);
        take(titleOption, title, g.title);
        take(outputOption, output, g.output);
        take(columnsOption, columns, g.columns);
        take(colorsOption, colors, g.colors);
        take(borderOption, border, g.border);
        take(unitOption, unit, g.unit);
        take(styleOption, style, g.style);
        take(groupOption, group, g.group);
        if (indexOption->count())
            g.index = index.empty() ? std::string(kDefaultIndexName) : index;
        return g;
    }
};

} // namespace

void addListCommand(CLI::App& app, Context& ctx)
{
    auto* cmd
        = app.add_subcommand("list", "Write the List document (an HTML page in Shift_JIS) into FOLDER.");
    auto args = std::make_shared<ListArgs>();
    addFolderArgument(*cmd, args->folder, "Folder whose MP3 files are listed");
    args->titleOption
        = cmd->add_option("--title", args->title, "Page title and table caption (default: empty)");
    args->outputOption = cmd->add_option("--output,-o", args->output,
        "Output file name in the folder (default: list.htm): a plain name, not "
        "a path (no \"/\" or \"\\\", not \".\", \"..\" or \"-\"), not ending in "
        "the extension of a listed format (\".mp3\")");
    args->columnsOption = cmd->add_option("--columns", args->columns, columnsHelp());
    args->colorsOption = cmd->add_option("--colors", args->colors,
        "Four palette colours: page, table, table text, title "
        "(default: WHITE,WHITE,BLACK,RED), any letter case, from: "
            + colorList());
    args->borderOption = cmd->add_option("--border", args->border,
        "Table border width, " + rangeText(kBorderRange) + " (default: " + OptionSet {}.borderText + ")");
    args->unitOption
        = cmd->add_option("--unit", args->unit, "File size unit: byte, kb or mb (default: byte)");
    args->presetOption = cmd->add_option("--preset", args->preset,
        "Start from a preset saved by the window (see `presets`); "
        "the options above override it");
    args->styleOption = cmd->add_option("--style", args->style,
        "Page style: classic (the Shift_JIS table, default) or modern (HTML5 in UTF-8 that sorts, "
        "filters and prints)");
    args->groupOption
        = cmd->add_option("--group", args->group, "With --style modern: album (a section per album)");
    args->formatsOption = addFormatsOption(*cmd, args->formats);
    auto* recursive = cmd->add_flag("--recursive,-r", args->recursive,
        "Write a list into FOLDER and every folder below it that holds files of the listed formats");
    args->indexOption
        = cmd->add_option("--index", args->index,
                 "With -r, also an index page in FOLDER linking every list written, with the "
                 "totals of each and of all (NAME default: index.htm; the --output rules apply)")
              ->expected(0, 1)
              ->type_name("[NAME]")
              ->needs(recursive);
    cmd->add_flag("--quiet,-q", ctx.quiet, "No progress bar and no closing line; errors are still said");
    cmd->add_flag("--verbose", ctx.verbose, "Also say on stderr why each unreadable file holds no audio");
    cmd->callback([&ctx, args] {
        runList(ctx, args->folder, args->presetOption->count() ? std::optional(args->preset) : std::nullopt,
            args->given(), args->recursive);
    });
}

} // namespace melodex::cli

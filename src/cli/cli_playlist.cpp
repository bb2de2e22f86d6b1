#include <memory>
#include <ostream>

#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "common/folder_listing.h"
#include "common/folder_path.h"
#include "common/text_rules.h"
#include "listgen/list_document.h"
#include "listgen/playlist.h"

namespace melodex::cli {
namespace {

struct PlaylistArgs {
    std::string folder;
    std::string output { "playlist.m3u8" };
    std::string formats { "mp3" };
    bool recursive = false;
};

std::vector<std::string> playlistFolders(Context& ctx, const std::string& top, bool recursive)
{
    if (!recursive)
        return { top };
    FolderListing folders = foldersBelow(top);
    if (!folders.ok)
        ctx.err << "cannot read folder: " << escapeForTerminal(folders.error) << "\n";
    return std::move(folders.names);
}

void report(Context& ctx, const PlaylistRequest& request, const PlaylistResult& r)
{
    for (const std::string& why : r.leftOut)
        ctx.err << "left out: " << escapeForTerminal(why) << "\n";
    switch (r.status) {
    case PlaylistResult::Status::Success:
        ctx.err << "wrote " << escapeForTerminal(r.path) << " (" << r.entries
                << (r.entries == 1 ? " entry)\n" : " entries)\n");
        // Written, but a player would miss what was left out.
        ctx.exitCode = r.leftOut.empty() ? kExitOk : kExitFailure;
        return;
    case PlaylistResult::Status::NoFiles:
        ctx.err << "no audio files in " << escapeForTerminal(shownFolder(request.top)) << "\n";
        ctx.exitCode = r.leftOut.empty() ? kExitNoMp3Files : kExitFailure;
        return;
    case PlaylistResult::Status::Cancelled:
        ctx.err << "interrupted: the previous playlist is unchanged\n";
        ctx.exitCode = kExitFailure;
        return;
    case PlaylistResult::Status::Failed:
        break;
    }
    ctx.err << "file i/o error\n" << escapeForTerminal(r.reason) << "\n";
    ctx.exitCode = kExitWriteFailed;
}

void runPlaylist(Context& ctx, const PlaylistArgs& args)
{
    std::string bad;
    const std::optional<FormatSet> formats = FormatSet::parse(args.formats, &bad);
    if (!formats) {
        ctx.err << "playlist: --formats: unknown format \"" << escapeForTerminal(bad) << "\"\n";
        ctx.exitCode = kExitUsage;
        return;
    }
    std::optional<std::string> why = checkOutputName(args.output, *formats);
    // Scripts write "-" for standard output; a file of that name would
    // surprise them.
    if (!why && trim(args.output) == "-")
        why = "\"-\" is no standard output here: give a file name";
    if (why) {
        ctx.err << "playlist: --output: " << escapeForTerminal(*why) << "\n";
        ctx.exitCode = kExitUsage;
        return;
    }
    PlaylistRequest request;
    request.top = listedFolder(args.folder);
    request.folders = playlistFolders(ctx, request.top, args.recursive);
    request.outFile = args.output;
    request.formats = *formats;
    report(ctx, request, writePlaylist(request));
}

} // namespace

void addPlaylistCommand(CLI::App& app, Context& ctx)
{
    auto* cmd = app.add_subcommand(
        "playlist", "Write an extended M3U8 playlist (UTF-8) of FOLDER's audio files into FOLDER.");
    auto args = std::make_shared<PlaylistArgs>();
    addFolderArgument(*cmd, args->folder, "Folder whose audio files are listed");
    cmd->add_option("--output,-o", args->output,
        "Playlist file name in the folder (default: playlist.m3u8); the rules of `list --output` apply");
    cmd->add_option("--formats", args->formats,
        "Which files are listed: format names or extensions separated by commas, or \"all\" (default: mp3)");
    cmd->add_flag("--recursive,-r", args->recursive,
        "One playlist in FOLDER reaching into every folder below it, paths relative to FOLDER");
    cmd->callback([&ctx, args] { runPlaylist(ctx, *args); });
}

} // namespace melodex::cli

#include "listgen/playlist.h"

#include <filesystem>
#include <map>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "test_support.h"

using namespace melodex;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

trackinfo::TrackDetails details(std::string artist, std::string title, int64_t seconds, bool readable = true)
{
    trackinfo::TrackDetails d;
    d.texts.artist = std::move(artist);
    d.texts.title = std::move(title);
    d.seconds = seconds;
    d.readable = readable;
    return d;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The seconds `info --json` gives for each file of a folder, by name bytes.
std::map<std::string, int64_t> infoSeconds(const fs::path& folder)
{
    std::map<std::string, int64_t> seconds;
    for (const std::string& line : lines(test::runCli({ "info", "--json", folder.string() }).out)) {
        const auto json = nlohmann::json::parse(line);
        std::string name = json["file"];
        if (json.contains("file_hex")) {
            const std::string hex = json["file_hex"];
            name.clear();
            for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
                name += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        seconds[name] = json["seconds"];
    }
    return seconds;
}

} // namespace

TEST(Playlist, ExtinfLine)
{
    struct Case {
        trackinfo::TrackDetails details;
        std::string fileName, expected;
    };
    const Case cases[] = {
        { details("Artist", "Title", 184), "x.mp3", "#EXTINF:184,Artist - Title\n" },
        { details("", "Title", 3), "x.mp3", "#EXTINF:3,Title\n" },
        { details("Artist", "", 3), "x.mp3", "#EXTINF:3,Artist\n" },
        { details("", "", 7), "01 intro.final.mp3", "#EXTINF:7,01 intro.final\n" },
        { details("", "", 0, false), "broken.mp3", "#EXTINF:-1,broken\n" },
        // A Shift_JIS name reads as its characters in the text, as on the page.
        { details("", "", 1), "\x83\x65\x83\x58\x83\x67.mp3", "#EXTINF:1,テスト\n" },
        // Nothing may end the line early or turn what follows around.
        { details("A\nB", "C\rD\x7f", 1), "x.mp3", "#EXTINF:1,A\uFFFDB - C\uFFFDD\uFFFD\n" },
        { details("\u202Eevil", "ok\u0085", 1), "x.mp3", "#EXTINF:1,\uFFFDevil - ok\uFFFD\n" },
        { details("bad\xff", "t", 1), "x.mp3", "#EXTINF:1,bad\uFFFD - t\n" },
        { details("a, b", "c", 1), "x.mp3", "#EXTINF:1,a, b - c\n" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(extinfLine(c.details, c.fileName), c.expected) << c.fileName;
}

TEST(Playlist, PathLine)
{
    struct Case {
        std::string path, expected;
    };
    const Case cases[] = {
        { "a.mp3", "a.mp3\n" },
        { "#1 hit.mp3", "./#1 hit.mp3\n" },
        { " lead.mp3", "./ lead.mp3\n" },
        { "sub/#1.mp3", "sub/#1.mp3\n" },
        { "\x83\x65\x83\x58\x83\x67/\xe9t\xe9.mp3", "\x83\x65\x83\x58\x83\x67/\xe9t\xe9.mp3\n" },
        { "a\nb.mp3", "" },
        { "a\rb.mp3", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(pathLine(c.path), c.expected) << c.path;
}

// Every entry of a tree's playlist finds its file from the playlist's folder
// and carries the seconds `info` gives for it.
TEST(Playlist, EntriesResolveAndCarryInfoSeconds)
{
    TempDir dir;
    const fs::path top = dir.path();
    const std::vector<std::pair<std::string, std::string>> files = {
        { "cbr128_44k_stereo.mp3", "cbr128_44k_stereo.mp3" },
        { "vbr_v2_xing_id3v24.mp3", "#1 vbr.mp3" },
        { "id3v1_sjis.mp3", "a/\x83\x65\x83\x58\x83\x67.mp3" },
        { "mpeg2_22k_64k_id3v22.mp3", "a/b/\xe9t\xe9.mp3" },
        { "no_tags.mp3", "a/b/c/#x.mp3" },
        { "text_file.mp3", "a/b/c/unreadable.mp3" },
    };
    for (const auto& [source, name] : files) {
        fs::create_directories((top / name).parent_path());
        fs::copy_file(test::corpusDir() / source, top / name);
    }
    fs::copy_file(test::corpusDir() / "no_tags.mp3", top / "a" / "line\nbreak.mp3");

    const auto run = test::runCli({ "playlist", "-r", top.string() });
    EXPECT_EQ(run.code, 1) << "a name no line can hold is left out, and said: " << run.err;
    EXPECT_NE(run.err.find("line break"), std::string::npos) << run.err;

    const auto text = lines(test::readFile(top / "playlist.m3u8"));
    ASSERT_EQ(text.size(), 1 + 2 * files.size());
    EXPECT_EQ(text[0], "#EXTM3U");
    std::map<fs::path, std::map<std::string, int64_t>> seconds;
    for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
        const fs::path file = fs::weakly_canonical(top / text[i + 1]);
        ASSERT_TRUE(fs::is_regular_file(file)) << text[i + 1];
        ASSERT_TRUE(text[i].starts_with("#EXTINF:")) << text[i];
        if (!seconds.contains(file.parent_path()))
            seconds[file.parent_path()] = infoSeconds(file.parent_path());
        const int64_t want = seconds[file.parent_path()].at(file.filename().string());
        const int64_t got = std::stoll(text[i].substr(8));
        EXPECT_EQ(got, file.filename() == "unreadable.mp3" ? -1 : want) << text[i + 1];
    }
}

TEST(Playlist, RefusedNamesAndEmptyFoldersWriteNothing)
{
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        { { "-o", "song.mp3" }, 2 },
        { { "-o", "../up.m3u8" }, 2 },
        { { "-o", "-" }, 2 },
        { { "--formats", "midi" }, 2 },
        { {}, 3 },
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = { "playlist", dir.path().string() };
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(test::runCli(args).code, c.code) << (c.args.empty() ? "" : c.args.back());
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
}

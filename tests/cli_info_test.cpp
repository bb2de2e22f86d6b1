#include "cli/cli.h"

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "common/sjis.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

struct InfoRun {
    int code;
    std::string out, err;
};

InfoRun info(const std::string& folder)
{
    std::ostringstream out, err;
    const int code = cli::runCli({ "info", folder }, out, err);
    return { code, out.str(), err.str() };
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

std::vector<std::string> columns(const std::string& line)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        result.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return result;
        start = tab + 1;
    }
}

} // namespace

TEST(CliInfo, PrintsOneLinePerCorpusFile)
{
    const InfoRun r = info(test::corpusDir().string());
    ASSERT_EQ(r.code, cli::kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    const auto all = lines(r.out);
    ASSERT_EQ(all.size(), 34u); // hidden files left out
    EXPECT_EQ(all.front().substr(0, all.front().find('\t')), "a&b <c>.mp3");
    int seconds = 0;
    for (const auto& line : all) {
        const auto c = columns(line);
        ASSERT_EQ(c.size(), 14u) << line;
        seconds += std::stoi(c[10]);
    }
    EXPECT_EQ(seconds, 89); // the corpus summary's total

    // The first twelve columns; track and album artist follow.
    const auto has = [&](const std::string& line) {
        return std::any_of(
            all.begin(), all.end(), [&](const std::string& l) { return l.starts_with(line + "\t"); });
    };
    EXPECT_TRUE(has("cbr128_44k_stereo.mp3\tPlain ASCII Title\tTest Artist\tTest Album\t1999\t"
                    "ID3v1.0 comment, 30 bytes max\tRock\t128\t44100\t73269\t4\tok"));
    // References resolved, a literal "&amp;" and "&#65;" in the tag kept as they are.
    EXPECT_TRUE(has("html_specials.mp3\t<script>alert(1)</script>\tTom & Jerry\t\"quoted\" & 'single'\t2013\t"
                    "a < b > c & d &amp; &#65;\tR&B\t128\t44100\t41127\t2\tok"));
    EXPECT_TRUE(has("non_sjis_chars.mp3\tCafé – \u2126 🎵\tDvořák & Björk\t€uro ß ♪ Ω\t2014\temoji 😀 é ü ñ\t"
                    "Música Popular Brasileira\t128\t44100\t41139\t2\tok"));
    EXPECT_TRUE(has("text_file.mp3\t\t\t\t\t\t\t0\t0\t285\t0\tunreadable"));
    EXPECT_TRUE(has("zero_bytes.mp3\t\t\t\t\t\t\t0\t0\t0\t0\tunreadable"));
}

TEST(CliInfo, EscapesWhatWouldBreakTheLine)
{
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        { "a\tb", "a\\tb" }, { "line\r\nnext", "line\\r\\nnext" }, { "C:\\music\\", "C:\\\\music\\\\" },
        { "\\t stays two characters", "\\\\t stays two characters" }, { "日本語 Café 🎵", "日本語 Café 🎵" },
        { "\xff.mp3", "\\xFF.mp3" }, { "cut \xe6\x97", "cut \\xE6\\x97" }, // UTF-8 sequence cut short
        { "\xc0\xaf overlong", "\\xC0\\xAF overlong" }, // overlong "/"
        { "\xed\xa0\x80", "\\xED\\xA0\\x80" }, // a surrogate
        { "\x93\xfa\x96\x7b", "\\x93\\xFA\\x96{" }, // a Shift_JIS name
        { "\x1b[31mred\x7f", "\\x1B[31mred\\x7F" }, // terminal controls
        { "\xc2\x9b"
          "2J \xc2\xa0",
            "\\xC2\\x9B"
            "2J \xc2\xa0" }, // C1 CSI escaped, no-break space kept
    };
    for (const auto& c : cases)
        EXPECT_EQ(cli::escapeInfoValue(c.in), c.out) << c.in;
}

namespace {

// A copy of a tagless corpus file under a name, with a title.
void writeTitled(const fs::path& path, const char* utf8Title)
{
    fs::copy_file(test::corpusDir() / "no_tags.mp3", path);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    TagLib::MPEG::File file(path.c_str(), false);
    file.ID3v2Tag(true)->setTitle(TagLib::String(utf8Title, TagLib::String::UTF8));
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
}

} // namespace

TEST(CliInfo, EscapesFileNamesAndTagTexts)
{
    TempDir dir;
    writeTitled(dir.path() / "\xff odd.mp3", "one\ttwo\nthree\\");
    const InfoRun r = info(dir.path().string());
    ASSERT_EQ(r.code, cli::kExitOk) << r.err;
    const auto c = columns(r.out);
    ASSERT_EQ(c.size(), 14u) << r.out;
    EXPECT_EQ(c[0], "\\xFF odd.mp3");
    EXPECT_EQ(c[1], "one\\ttwo\\nthree\\\\");
    EXPECT_EQ(c[11], "ok");
}

TEST(CliInfo, FailsOnAFolderThatCannotBeRead)
{
    const InfoRun missing = info("/nonexistent/melodex-folder");
    EXPECT_EQ(missing.code, cli::kExitFailure);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("/nonexistent/melodex-folder"), std::string::npos) << missing.err;

    // Files that hold no audio are reported, not failed.
    TempDir dir;
    dir.write("empty.mp3");
    const InfoRun unreadable = info(dir.path().string());
    EXPECT_EQ(unreadable.code, cli::kExitOk);
    EXPECT_EQ(unreadable.out, "empty.mp3\t\t\t\t\t\t\t0\t0\t0\t0\tunreadable\t0\t\n");

    const InfoRun empty = info(TempDir().path().string());
    EXPECT_EQ(empty.code, cli::kExitOk);
    EXPECT_EQ(empty.out, "");
}

TEST(CliInfoJson, OneObjectPerFileWithTheSameValuesTyped)
{
    std::ostringstream out, err;
    const int code = cli::runCli({ "info", "--json", test::corpusDir().string() }, out, err);
    ASSERT_EQ(code, cli::kExitOk) << err.str();
    const InfoRun text = info(test::corpusDir().string());
    const auto jsonLines = lines(out.str());
    const auto textLines = lines(text.out);
    ASSERT_EQ(jsonLines.size(), textLines.size());

    const std::vector<std::string> keys = {
        "file",
        "title",
        "artist",
        "album",
        "year",
        "comment",
        "genre",
        "bitrate_kbps",
        "sample_rate_hz",
        "file_bytes",
        "seconds",
        "readable",
        "format",
        "track",
        "album_artist",
        "reason",
    };
    for (std::size_t i = 0; i < jsonLines.size(); ++i) {
        // Throws on anything but one valid object.
        const auto object = nlohmann::ordered_json::parse(jsonLines[i]);
        std::vector<std::string> seen;
        for (const auto& [key, value] : object.items())
            seen.push_back(key);
        ASSERT_EQ(seen, keys) << jsonLines[i];
        // The text form of the same file: numbers as numbers, ok as true.
        const auto c = columns(textLines[i]);
        EXPECT_EQ(object["file"], c[0]);
        for (std::size_t k = 7; k < 11; ++k)
            EXPECT_EQ(object[keys[k]].get<long long>(), std::stoll(c[k])) << keys[k] << " of " << c[0];
        EXPECT_EQ(object["readable"], c[11] == "ok") << c[0];
    }

    // Every key given, with its value; the others are not looked at.
    const auto has = [&](const nlohmann::ordered_json& expected) {
        return std::any_of(jsonLines.begin(), jsonLines.end(), [&](const std::string& line) {
            const auto got = nlohmann::ordered_json::parse(line);
            return std::all_of(expected.items().begin(), expected.items().end(), [&](const auto& item) {
                return got.contains(item.key()) && got[item.key()] == item.value();
            });
        });
    };
    // References resolved, "&amp;" and "&#65;" in the tag kept as they are.
    EXPECT_TRUE(has({ { "file", "html_specials.mp3" }, { "title", "<script>alert(1)</script>" },
        { "artist", "Tom & Jerry" }, { "album", "\"quoted\" & 'single'" }, { "year", "2013" },
        { "comment", "a < b > c & d &amp; &#65;" }, { "genre", "R&B" }, { "bitrate_kbps", 128 },
        { "sample_rate_hz", 44100 }, { "file_bytes", 41127 }, { "seconds", 2 }, { "readable", true } }));
    EXPECT_TRUE(has({ { "file", "text_file.mp3" }, { "title", "" }, { "artist", "" }, { "album", "" },
        { "year", "" }, { "comment", "" }, { "genre", "" }, { "bitrate_kbps", 0 }, { "sample_rate_hz", 0 },
        { "file_bytes", 285 }, { "seconds", 0 }, { "readable", false }, { "format", "mp3" },
        { "reason", "no MPEG audio found" } }));
}

TEST(CliInfoJson, NamesAndTextsOutsidePlainTextStayValidAndRecoverable)
{
    TempDir dir;
    const char* title = "tab\there\nESC \x1b[2J C1 \xc2\x9b \\ \"q\" 日本";
    writeTitled(dir.path() / "\x83\x65\x83\x58\x83\x67 \xff.mp3", title);
    std::ostringstream out, err;
    ASSERT_EQ(cli::runCli({ "info", "--json", dir.path().string() }, out, err), cli::kExitOk) << err.str();
    const std::string line = out.str();
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    // Nothing a terminal would act on, even escaped JSON allows raw C1.
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        EXPECT_GE(static_cast<unsigned char>(line[i]), 0x20) << i;
        EXPECT_FALSE(line[i] == '\xc2' && static_cast<unsigned char>(line[i + 1]) < 0xA0) << i;
    }
    const auto object = nlohmann::json::parse(line); // strict: rejects invalid UTF-8
    // A Shift_JIS name: its lead bytes are not UTF-8, its trail bytes here are ASCII.
    EXPECT_EQ(object["file"], "\uFFFDe\uFFFDX\uFFFDg \uFFFD.mp3");
    EXPECT_EQ(object["file_hex"], "83658358836720ff2e6d7033");
    EXPECT_EQ(object["title"], title);
    EXPECT_TRUE(object["readable"].get<bool>());
}

TEST(CliVersion, PrintsTheProgramNameAndVersion)
{
    std::ostringstream out, err;
    EXPECT_EQ(cli::runCli({ "--version" }, out, err), cli::kExitOk);
    const std::regex nameAndVersion("melodex-cli [0-9]+\\.[0-9]+\\.[0-9]+\n");
    EXPECT_TRUE(std::regex_match(out.str(), nameAndVersion)) << out.str();
    EXPECT_EQ(err.str(), "");
}

TEST(CliInfo, HelpExplainsColumnsAndExitCodes)
{
    std::ostringstream out, err;
    EXPECT_EQ(cli::runCli({ "info", "--help" }, out, err), cli::kExitOk);
    for (const char* text :
        { "file name", "total seconds", "unreadable", "\\xNN", "--json", "file_hex", "--csv", "Exit codes" })
        EXPECT_NE(out.str().find(text), std::string::npos) << text;
}

TEST(CliInfoCsv, ParsesBackToTheJsonValues)
{
    TempDir dir;
    writeTitled(dir.path() / "\xff odd, \"q\".mp3", "a,b \"quoted\"\r\nnext =x");
    for (const char* name : { "long_sjis_fields.mp3", "text_file.mp3", "html_specials.mp3" })
        fs::copy_file(test::corpusDir() / name, dir.path() / name);
    const test::CliRun csv = test::runCli({ "info", "--csv", dir.path().string() });
    const test::CliRun json = test::runCli({ "info", "--json", dir.path().string() });
    ASSERT_EQ(csv.code, cli::kExitOk) << csv.err;
    dir.write("out.csv", csv.out);
    dir.write("out.jsonl", json.out);
    // Python's csv module as the reader a script would use; JSON's values as
    // text, the way a CSV cell holds them.
    const std::string script = R"(
import csv, json, sys
rows = list(csv.DictReader(open(sys.argv[1], newline='', encoding='utf-8')))
objs = [json.loads(l) for l in open(sys.argv[2], encoding='utf-8')]
assert len(rows) == len(objs) == 4, (len(rows), len(objs))
text = lambda v: ('true' if v else 'false') if isinstance(v, bool) else str(v)
for row, obj in zip(rows, objs):
    obj.setdefault('file_hex', '')
    assert list(row) == ['file', 'file_hex'] + [k for k in obj if k not in ('file', 'file_hex')], list(row)
    for k, v in obj.items():
        assert row[k] == text(v), (k, row[k], v)
)";
    dir.write("check.py", script);
    const std::string command = std::string(MELODEX_PYTHON3) + " " + (dir.path() / "check.py").string() + " "
        + (dir.path() / "out.csv").string() + " " + (dir.path() / "out.jsonl").string() + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;

    // Texts whole: the record would cut this title at 128 Shift_JIS bytes.
    const auto all = lines(json.out);
    const auto longLine = *std::find_if(all.begin(), all.end(),
        [](const std::string& l) { return l.find("long_sjis") != std::string::npos; });
    EXPECT_GT(sjis::encode(nlohmann::json::parse(longLine)["title"].get<std::string>()).size(), 128u)
        << longLine;
}

TEST(CliInfoCsv, SafeFormMarksOnlyCellsASpreadsheetWouldRun)
{
    struct Case {
        const char* title;
        const char* cell;
    };
    const Case cases[] = {
        { "=HYPERLINK(1)", "'=HYPERLINK(1)" },
        { "+1", "'+1" },
        { "-1", "'-1" },
        { "@SUM(1)", "'@SUM(1)" },
        { "a=b", "a=b" },
        { "=x,y", "\"'=x,y\"" },
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeTitled(dir.path() / "t.mp3", c.title);
        const test::CliRun safe = test::runCli({ "info", "--csv-safe", dir.path().string() });
        const test::CliRun plain = test::runCli({ "info", "--csv", dir.path().string() });
        const auto row = lines(safe.out).at(1);
        EXPECT_EQ(row.rfind("t.mp3,," + std::string(c.cell) + ",", 0), 0u) << row;
        EXPECT_NE(lines(plain.out).at(1).find(c.title), std::string::npos) << "plain --csv keeps " << c.title;
    }
}

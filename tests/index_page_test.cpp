#include "listgen/index_page.h"

#include <filesystem>
#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "common/sjis.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string percentDecoded(const std::string& href)
{
    std::string out;
    for (std::size_t i = 0; i < href.size(); ++i) {
        if (href[i] == '%' && i + 2 < href.size()) {
            out += static_cast<char>(std::stoi(href.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += href[i];
        }
    }
    return out;
}

std::vector<std::smatch> matches(const std::string& text, const std::regex& re)
{
    return { std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator() };
}

int64_t seconds(const std::string& hms)
{
    return std::stoll(hms.substr(0, hms.size() - 6)) * 3600 + std::stoll(hms.substr(hms.size() - 5, 2)) * 60
        + std::stoll(hms.substr(hms.size() - 2));
}

// A list page's own totals: its number of files and playing time.
std::pair<int64_t, int64_t> pageTotals(const std::string& page)
{
    const std::string text = sjis::decode(page);
    std::smatch files, time;
    EXPECT_TRUE(std::regex_search(text, files, std::regex("ファイル総数</TD><TD[^>]*>\\s*(\\d+)")));
    EXPECT_TRUE(std::regex_search(text, time, std::regex("総演奏時間</TD><TD[^>]*>([\\d:]+)")));
    return { std::stoll(files[1]), seconds(time[1]) };
}

} // namespace

// Three levels below the top, a folder that lists nothing between, a name
// that is not UTF-8: every link leads to a list the run wrote, every list is
// linked, each row says what its page says and the totals are their sum.
TEST(IndexPage, LinksEveryListOfATreeAndItsTotalsAddUp)
{
    TempDir dir;
    const fs::path top = dir.path();
    const std::vector<std::pair<std::string, std::string>> files = {
        { "cbr128_44k_stereo.mp3", "a.mp3" },
        { "vbr_v2_xing_id3v24.mp3", "one/b.mp3" },
        { "no_tags.mp3", "one/two/three/c.mp3" },
        { "id3v1_sjis.mp3", "one/two/three/d.mp3" },
        { "text_file.mp3", "one-b/e.mp3" },
        { "mpeg2_22k_64k_id3v22.mp3", "\x83\x65\x83\x58\x83\x67 & <x>/f.mp3" },
    };
    for (const auto& [source, name] : files) {
        fs::create_directories((top / name).parent_path());
        fs::copy_file(test::corpusDir() / source, top / name);
    }
    const auto run = test::runCli({ "list", "-r", "--index", top.string() });
    ASSERT_EQ(run.code, 0) << run.err;

    std::set<fs::path> written;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        if (entry.path().filename() == "list.htm")
            written.insert(entry.path());
    }
    const std::string index = test::readFile(top / "index.htm");
    const std::regex row(
        "<A HREF=\"([^\"]+)\">.*\r\n<TD[^>]*>(\\d+)</TD>\r\n<TD[^>]*>[^<]+</TD>\r\n<TD[^>]*>([\\d:]+)<");
    std::set<fs::path> linked;
    int64_t sumFiles = 0, sumSeconds = 0;
    for (const auto& m : matches(index, row)) {
        const fs::path page = top / percentDecoded(m[1]);
        ASSERT_TRUE(written.contains(page)) << m[1];
        linked.insert(page);
        const auto [files, secs] = pageTotals(test::readFile(page));
        EXPECT_EQ(std::stoll(m[2]), files) << m[1];
        EXPECT_EQ(seconds(m[3]), secs) << m[1];
        sumFiles += files;
        sumSeconds += secs;
    }
    EXPECT_EQ(linked, written);
    EXPECT_EQ(pageTotals(index), std::make_pair(sumFiles, sumSeconds));
    EXPECT_EQ(sumFiles, static_cast<int64_t>(files.size()));
}

// The modern page: the same links and totals, nested under the nearest
// folder shown, in natural order by name ("one" and its children before
// "one-b"), and nothing from a name read as markup.
TEST(IndexPage, ModernPageNestsInNaturalOrder)
{
    OptionSet options;
    options.style = PageStyle::Modern;
    options.colorText[0] = "red;}</style><script>";
    options.colorIndex[0] = -1;
    const std::vector<IndexedFolder> folders = {
        { "/m/one-b", { 1, 10, 5 } },
        { "/m/one/two/three", { 2, 20, 61 } },
        { "/m/10 x", { 1, 1, 1 } },
        { "/m/2 <b>", { 1, 1, 1 } },
        { "/m/one", { 3, 30, 3600 } },
    };
    const std::string page = indexPage(options, "/m", folders);
    std::vector<std::string> links;
    for (const auto& m :
        matches(page, std::regex("padding-left:(\\d+)px\"><a href=\"([^\"]+)\">([^<]*)</a>")))
        links.push_back(m[1].str() + " " + m[2].str() + " " + m[3].str());
    const std::vector<std::string> expected = {
        "6 2%20%3Cb%3E/list.htm 2 &lt;b&gt;",
        "6 10%20x/list.htm 10 x",
        "6 one/list.htm one",
        "21 one/two/three/list.htm two/three",
        "6 one-b/list.htm one-b",
    };
    EXPECT_EQ(links, expected);
    EXPECT_NE(page.find("<td class=\"n\">8</td><td class=\"n\">62 Byte</td><td class=\"n\">01:01:08</td>"),
        std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n<html lang=\"ja\">"));
}

TEST(IndexPage, RefusedNamesWriteNothing)
{
    TempDir dir;
    fs::copy_file(test::corpusDir() / "no_tags.mp3", dir.path() / "a.mp3");
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        { { "--index", "list.htm" }, 2 },
        { { "-o", "page.htm", "--index", "page.htm" }, 2 },
        { { "--index", "x.mp3" }, 2 },
        { { "--index", "-" }, 2 },
        { { "--index", "sub/index.htm" }, 2 },
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = { "list", "-r" };
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(dir.path().string());
        EXPECT_EQ(test::runCli(args).code, c.code) << c.args.back();
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }
}

#include "listgen/modern_page.h"

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "test_support.h"

using namespace melodex;
using melodex::test::readFile;
using melodex::test::TempDir;
using trackinfo::TrackDetails;

namespace {

struct ModernRun {
    TempDir dir { "melodex-modern" };
    std::map<std::string, TrackDetails> tracks; // by file name
    OptionSet options;

    ModernRun()
    {
        options.style = PageStyle::Modern;
        options.outFile = "list.html";
    }
    ListResult write(const std::vector<std::string>& files, const ListProgress& progress = {})
    {
        TrackTag tag {};
        StreamInfo info {};
        // By the name's end: the hostile names hold "/" of their own.
        const DetailsReader reader = [this](const std::string& path) {
            for (const auto& [name, details] : tracks) {
                if (path.ends_with("/" + name))
                    return details;
            }
            return TrackDetails {};
        };
        return writeListDocument(
            options, dir.path().string(), files, tag, info, readTrackWithVbmp3, progress, reader);
    }
    std::string page() const { return readFile(dir.path() / "list.html"); }
};

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(ModernPage, RowsHoldWholeTextsNumbersForSortingAndTotals)
{
    ModernRun run;
    run.options.columns = { 0, 12, 1, 13, 7, 8, 9, 10, 11, 2, 3 };
    run.options.enabledColumns = 9;
    run.options.sizeUnit = kSizeMB;
    const std::string longTitle(200, 'x'); // longer than the record's 128 bytes
    run.tracks["b.mp3"] = { .texts = { .title = longTitle, .track = 7, .albumArtist = "Various Artists" },
        .fileBytes = 3000000000,
        .bitrateKbps = 320,
        .sampleRate = 48000,
        .seconds = 185,
        .readable = true };
    run.tracks["a.mp3"] = { .fileBytes = 0 };
    ASSERT_TRUE(run.write({ "b.mp3", "a.mp3" }).ok());
    const std::string page = run.page();

    EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n", 0), 0u);
    for (const std::string& text :
        std::vector<std::string> { "<th scope=\"col\" class=\"n\" data-sort=\"num\">トラック番号</th><th "
                                   "scope=\"col\">トラック名</th>"
                                   "<th scope=\"col\">アルバムアーティスト</th>",
            "<tr data-b=\"3000000000\" data-s=\"185\"><td class=\"n\" data-v=\"0\">1</td><td>b.mp3</td>"
            "<td class=\"n\" data-v=\"7\">7</td><td>"
                + longTitle
                + "</td><td>Various Artists</td><td class=\"n\" data-v=\"3000000000\">2,861.02 MB</td>"
                  "<td class=\"n\" data-v=\"185\">00:03:05</td><td class=\"n\" data-v=\"320\">320 kbps</td>"
                  "<td class=\"n\" data-v=\"48000\">48000 Hz</td></tr>",
            // No track number is an empty cell; a size always has digits.
            "<td>a.mp3</td><td class=\"n\" data-v=\"0\"></td><td></td><td></td><td class=\"n\" "
            "data-v=\"0\">0.00 MB</td>",
            // The totals are in the page itself, for a reader without the script.
            "<th scope=\"row\">ファイル総数</th><td class=\"n shown\" id=\"shown-count\"></td><td "
            "class=\"n\">2</td>",
            "<td class=\"n\">2,861.02 MB</td>", "<td class=\"n\">00:03:05</td>", "id=\"filter\"",
            "hidden></div>" })
        EXPECT_NE(page.find(text), std::string::npos) << text;
    EXPECT_EQ(page.find("<h1>"), std::string::npos) << "no empty heading without a title";
}

TEST(ModernPage, EscapesEveryTextAndKeepsItsOneScript)
{
    struct Case {
        std::string value, shown;
    };
    const Case cases[] = {
        { "</script><script>alert(1)</script>", "&lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt;" },
        { "<img src=x onerror=\"alert(1)\">", "&lt;img src=x onerror=&quot;alert(1)&quot;&gt;" },
        { "R&B", "R&amp;B" },
        { "line\nbreak\x7f", "line&#9226;break&#9249;" },
        { "evil\u202Egpj.exe", "evil&#65533;gpj.exe" },
    };
    for (const Case& c : cases) {
        ModernRun run;
        run.options.title = c.value;
        run.options.columns = { 0, 1, 13, 3, 4, 5, 6, 7, 8, 9, 10 };
        run.tracks[c.value + ".mp3"]
            = { .texts = { .title = c.value, .album = c.value, .albumArtist = c.value } };
        run.options.grouping = PageGrouping::Album;
        ASSERT_TRUE(run.write({ c.value + ".mp3" }).ok()) << c.value;
        const std::string page = run.page();
        // Title, heading, file name, title cell, album artist, album cell and heading.
        EXPECT_EQ(count(page, c.shown), 7u) << c.value << "\n" << page;
        EXPECT_EQ(count(page, "<script"), 1u) << c.value;
        EXPECT_EQ(count(page, "</script"), 1u) << c.value;
    }
}

TEST(ModernPage, AlbumSectionsInOrderOfFirstAppearanceWithSubtotals)
{
    ModernRun run;
    run.options.grouping = PageGrouping::Album;
    run.options.columns = { 0, 8, 11, 11, 11, 11, 11, 11, 11, 11, 11 };
    run.tracks["1.mp3"] = { .texts = { .album = "B" }, .fileBytes = 2048, .seconds = 60 };
    run.tracks["2.mp3"] = { .texts = { .album = "A" }, .fileBytes = 100, .seconds = 5 };
    run.tracks["3.mp3"] = { .texts = { .album = "B" }, .fileBytes = 2048, .seconds = 70 };
    run.tracks["4.mp3"] = { .fileBytes = 1, .seconds = 1 };
    ASSERT_TRUE(run.write({ "1.mp3", "2.mp3", "3.mp3", "4.mp3" }).ok());
    const std::string page = run.page();

    std::vector<std::string> sections;
    for (auto at = page.find("scope=\"rowgroup\">"); at != std::string::npos;
         at = page.find("scope=\"rowgroup\">", at + 1)) {
        const auto start = at + std::string_view("scope=\"rowgroup\">").size();
        sections.push_back(page.substr(start, page.find('<', start) - start));
    }
    EXPECT_EQ(sections, (std::vector<std::string> { "B", "A", "（アルバム名なし）" }));
    const auto b = page.find(">B<"), a = page.find(">A<");
    EXPECT_LT(page.find("<td>3.mp3</td>", b), a) << "the album's later file joins its section";
    for (const char* subtotal :
        { "<span>ファイル総数 2</span><span>総ファイル容量 4 KB</span><span>総演奏時間 00:02:10</span>",
            "<span>ファイル総数 1</span><span>総ファイル容量 100 Byte</span><span>総演奏時間 "
            "00:00:05</span>" })
        EXPECT_NE(page.find(subtotal), std::string::npos) << subtotal;
    // Row numbers follow the page's order, not the folder's.
    EXPECT_NE(page.find("<td class=\"n\" data-v=\"1\">2</td><td>3.mp3</td>"), std::string::npos);
}

TEST(ModernPage, ColoursReachTheStyleOnlyAsColours)
{
    struct Case {
        std::array<std::string, 4> colors;
        const char* expected;
        bool dark;
    };
    const Case cases[] = {
        { { "WHITE", "white", "BLACK", "RED" },
            "--page:#ffffff;--table:#ffffff;--text:#000000;--title:#ff0000", true },
        { { "DARKBLUE", "LAVENDER", "KHAKI", "DEEPPINK" },
            "--page:#00008b;--table:#e6e6fa;--text:#f0e68c;--title:#ff0093", false },
        // INI files may hold any text; only a plain word may be a colour.
        { { "navy", "red;}</style><script>", "url(x)", "" },
            "--page:navy;--table:#ffffff;--text:#000000;--title:#ff0000", false },
    };
    for (const Case& c : cases) {
        ModernRun run;
        run.options.colorText = c.colors;
        run.options.border = 3;
        ASSERT_TRUE(run.write({ "a.mp3" }).ok());
        const std::string page = run.page();
        EXPECT_NE(page.find(std::string(c.expected) + ";--line:#808080;--border:3px}"), std::string::npos)
            << c.expected << "\n"
            << page.substr(0, 600);
        EXPECT_EQ(page.find("prefers-color-scheme:dark") != std::string::npos, c.dark) << c.expected;
        EXPECT_EQ(count(page, "</style>"), 1u);
    }
}

TEST(ModernPage, FieldsOfTheModernPageAreRefusedOnTheClassicOne)
{
    ModernRun run;
    run.options.style = PageStyle::Classic;
    run.options.columns = { 0, 13, 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    const ListResult r = run.write({ "a.mp3" });
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.reason, "column 2: \"albumartist\" is shown by the modern page only");
    EXPECT_FALSE(std::filesystem::exists(run.dir.path() / "list.html"));
}

TEST(ModernPage, CancelKeepsThePreviousPage)
{
    ModernRun run;
    ASSERT_TRUE(run.write({ "a.mp3" }).ok());
    const std::string before = run.page();
    const ListResult r = run.write({ "a.mp3", "b.mp3" }, [](int done, int) { return done < 1; });
    EXPECT_EQ(r.status, ListResult::Status::Cancelled);
    EXPECT_EQ(run.page(), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(run.dir.path()), {}), 1);
}

// The written page as a browser reads it: headless Chromium loads the file
// and dumps its DOM (always UTF-8), so encoding and escaping are checked
// where they matter, not only as bytes.

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "listgen/list_document.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::readFile;
using melodex::test::TempDir;

namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

template <std::size_t N>
void put(char (&field)[N], const std::string& value)
{
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), std::min(N, value.size()));
}

} // namespace

TEST(ListPageInBrowser, DecodesJapaneseAndShowsTagsAsText)
{
    if (!std::filesystem::exists(kChromium)) {
        const char* ci = std::getenv("CI");
        if (ci == nullptr || std::string(ci) != "true")
            GTEST_SKIP() << kChromium << " is missing (scripts/install-deps.sh test installs it)";
        FAIL() << kChromium << " is missing; CI must run this test";
    }
    TempDir dir("melodex-browser");
    OptionSet options;
    options.title = "Björk Ω テスト";
    const auto reader = [](const std::string& path, TrackTag& tag, StreamInfo& info) -> int32_t {
        // Tag bytes as the track reader hands them over: CP932, "&" only as a
        // reference, characters CP932 lacks as references.
        put(tag.TrackName, "<script>alert(1)</script>");
        put(tag.ArtistName, "Bj&#246;rk");
        put(tag.AlbumName, "\x83\xb6 \x93\xfa\x96\x7b\x8c\xea"); // "Ω 日本語"
        put(tag.GenreName, "R&amp;B");
        info.FileBytes = 3000000;
        info.TotalSeconds = 185;
        (void)path;
        return 1;
    };
    TrackTag tag {};
    StreamInfo info {};
    const ListResult r
        = writeListDocument(options, dir.path().string(), { "Café – Ω.mp3" }, tag, info, reader);
    ASSERT_TRUE(r.ok()) << r.reason;

    const auto dom = dir.path() / "dom.html";
    const std::string command = std::string("timeout 120 ") + kChromium
        + " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
          "--disable-background-networking"
          " --disable-component-update --disable-sync --user-data-dir='"
        + (dir.path() / "profile").string() + "' --dump-dom 'file://" + r.path + "' > '" + dom.string()
        + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string page = readFile(dom);
    ASSERT_FALSE(page.empty());

    for (const char* text : { "<title>Björk Ω テスト</title>", ">ファイル名</th>", ">サンプリングレート</th>",
             ">Café – Ω.mp3</td>", ">Björk</td>", ">Ω 日本語</td>", ">R&amp;B</td>",
             ">&lt;script&gt;alert(1)&lt;/script&gt;</td>", ">ファイル総数</td>", ">2.86 MB" })
        EXPECT_NE(page.find(text), std::string::npos) << text << "\n" << page;
    EXPECT_EQ(page.find("<script"), std::string::npos) << "a tag must never become an element";
}

namespace {

trackinfo::TrackDetails fakeDetails(const std::string& path)
{
    trackinfo::TrackDetails d;
    d.readable = true;
    const std::string name = path.substr(path.rfind('/') + 1);
    // Times and sizes differ in order from the names, so that each sort
    // has its own answer; the comment makes the table wider than the window.
    if (name == "track1.mp3")
        d = { .texts = { .title = "ひらがな", .album = "A" }, .fileBytes = 3000000, .seconds = 185 };
    else if (name == "track2.mp3")
        d = { .texts = { .title = "<img src=x onerror=\"window.pwned=1\">",
                  .artist = "</script><script>window.pwned=2</script>" },
            .fileBytes = 2000,
            .seconds = 61 };
    else if (name == "Track3.mp3")
        d = {
            .texts = { .comment = std::string(40, 'w') + " \u202e reversed?" }, .fileBytes = 500, .seconds = 5
        };
    else
        d = {
            .texts = { .title = "Title カタカナ", .albumArtist = "Ω" }, .fileBytes = 5000000, .seconds = 300
        };
    return d;
}

} // namespace

TEST(ModernPageInBrowser, SortsFiltersAndTotalsTheShownRows)
{
    if (!std::filesystem::exists(kChromium) || !std::filesystem::exists("/usr/bin/chromedriver")) {
        const char* ci = std::getenv("CI");
        if (ci == nullptr || std::string(ci) != "true")
            GTEST_SKIP()
                << "chromium or chromium-driver is missing (scripts/install-deps.sh test installs them)";
        FAIL() << "chromium and chromium-driver are missing; CI must run this test";
    }
    TempDir dir("melodex-modern");
    OptionSet options;
    options.style = PageStyle::Modern;
    options.title = "<b>Modern</b> テスト";
    options.columns = { 0, 12, 1, 2, 13, 3, 5, 7, 8, 9, 10 };
    TrackTag tag {};
    StreamInfo info {};
    const ListResult r = writeListDocument(options, dir.path().string(),
        { "track1.mp3", "track2.mp3", "Track3.mp3", "track10.mp3" }, tag, info, readTrackWithVbmp3, {},
        fakeDetails);
    ASSERT_TRUE(r.ok()) << r.reason;

    const std::string command = std::string(MELODEX_PYTHON3)
        + " " MELODEX_TEST_DATA_DIR "/../modern_page_check.py '" + r.path + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << command;
    if (WEXITSTATUS(status) == 77) {
        const char* ci = std::getenv("CI");
        if (ci == nullptr || std::string(ci) != "true")
            GTEST_SKIP() << "python3-selenium cannot drive chromium here (scripts/install-deps.sh test)";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << command << " (its failures are above)";
}

// The written page as a browser reads it: headless Chromium loads the file
// and dumps its DOM (always UTF-8), so encoding and escaping are checked
// where they matter, not only as bytes.

#include <cstdlib>
#include <cstring>
#include <filesystem>

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

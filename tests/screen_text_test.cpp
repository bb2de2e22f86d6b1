// Text from tags, names and INI files on its way to a browser or a terminal:
// nothing in it may act as a command, hide what it is or reverse a line.

#include <filesystem>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "ini_test_support.h"
#include "listgen/list_document.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::readFile;
using melodex::test::TempDir;
namespace fs = std::filesystem;

TEST(EscapeHtml, DisplayControlsBecomeReplacementCharacters)
{
    struct Case {
        HtmlText kind;
        std::string in, out;
    };
    const Case cases[] = {
        { HtmlText::Plain, "a\xC2\x85z", "a&#65533;z" }, // NEL, shown as "…" as a reference
        { HtmlText::Plain, "\xC2\x80\xC2\x9F", "&#65533;&#65533;" }, // both ends of C1
        { HtmlText::Plain, "\xE2\x80\xAEgnp.3pm", "&#65533;gnp.3pm" }, // right-to-left override
        { HtmlText::Plain, "\xE2\x80\xAA\xE2\x81\xA6\xE2\x81\xA9", "&#65533;&#65533;&#65533;" },
        // Neighbours stay: NBSP, en dash, U+2029, U+202F, U+2065, U+206A.
        { HtmlText::Plain, "\xC2\xA0\xE2\x80\x93\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
            "\xC2\xA0\xE2\x80\x93\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA" },
        { HtmlText::Plain, "\xC2\x9B<", "&#65533;&lt;" },
        { HtmlText::UnquotedAttribute, "1\xC2\x9B 2", "1&#65533;&#32;2" },
        // A tag record is CP932: the codec wrote these as references.
        { HtmlText::TagField, "&#133;&#8238;&#8294;|&#160;&#8239;&amp;",
            "&#65533;&#65533;&#65533;|&#160;&#8239;&amp;" },
        // CP932 bytes that would be C1 or an override in UTF-8 are other
        // characters here: "ﾂ" and "あ", a kanji and "ｪ".
        { HtmlText::TagField, "\xC2\x82\xA0\xE2\x80\xAA", "\xC2\x82\xA0\xE2\x80\xAA" },
        { HtmlText::Cp932Name, "\xC2\x82\xA0&#133;.mp3", "\xC2\x82\xA0&amp;#133;.mp3" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(escapeHtml(c.in, c.kind), c.out) << c.in;
}

TEST(ListDocument, NamesAndTitlesCannotDisplayReversedOrAsOtherLetters)
{
    TempDir dir("melodex-screen");
    OptionSet options;
    options.title = "Best\xC2\x85"; // U+0085
    options.enabledColumns = 2;
    options.columns = { 0, 1, 11, 11, 11, 11, 11, 11, 11, 11, 11 };
    const std::string name = "\xE2\x80\xAEgnp.3pm.mp3"; // shows as "mp3.png" reversed
    TrackTag tag {};
    StreamInfo info {};
    const auto reader = [](const std::string&, TrackTag& t, StreamInfo&) {
        const char track[] = "a&#8238;b"; // a tag's U+202E, as the reader stores it
        std::copy(std::begin(track), std::end(track), t.TrackName);
        return 1;
    };
    ASSERT_TRUE(writeListDocument(options, dir.path().string(), { name }, tag, info, reader).ok());
    const std::string page = readFile(dir.path() / "list.htm");
    EXPECT_EQ(page.rfind("<HTML><HEAD><TITLE>Best&#65533;</TITLE>\r\n", 0), 0u) << page.substr(0, 60);
    EXPECT_NE(page.find("<TD NOWRAP ALIGN=\"left\">&#65533;gnp.3pm.mp3</TD>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<TD NOWRAP ALIGN=\"left\">a&#65533;b</TD>\r\n"), std::string::npos);
}

TEST(CliOutput, EscapesControlsAndOverridesWhereverItPrints)
{
    // A folder, a file and a preset named to take over the terminal: ESC [2J
    // clears it, U+202E reverses the line, U+009B is a one-byte ESC [.
    test::ScopedIniPlace ini;
    ini.writeIni("[\x1b[2J]\r\nTitle=x\r\n[&#8238;evil]\r\n[tab\there]\r\n");
    TempDir root("melodex-screen");
    const std::string hostile = "x\x1b[2J\xE2\x80\xAE\xC2\x9B"
                                "1m";
    const std::string shown = "x\\x1B[2J\\xE2\\x80\\xAE\\xC2\\x9B1m";
    const fs::path folder = root.path() / hostile;
    fs::create_directory(folder);
    fs::copy_file(test::corpusDir() / "no_tags.mp3", folder / (hostile + ".mp3"));

    struct Case {
        std::vector<std::string> args;
        std::string out, err; // exactly, or for err the start
    };
    const std::string listPath = root.path().string() + "/" + shown + "/list.htm";
    const Case cases[] = {
        { { "presets" }, "\\x1B[2J\n\\xE2\\x80\\xAEevil\ntab\\x09here\n", "" },
        { { "list", folder.string() }, "", "Success: " + listPath + " (1 files)\n" },
        { { "list", root.path().string(), "-r" }, "", "wrote " + listPath + " (1 files)\n" },
        { { "list", folder.string(), "--columns", "file,\x1b[2J" }, "",
            "melodex-cli: --columns: unknown field \"\\x1B[2j\"" },
        { { "list", root.path().string() + "/\x1b[2Jmissing" }, "",
            "melodex-cli: cannot read folder: " + root.path().string()
                + "/\\x1B[2Jmissing: No such file or directory\n" },
        { { "info", "/", "x\x1b[2J" }, "",
            "melodex-cli: The following argument was not expected: x\\x1B[2J\n" },
    };
    for (const auto& c : cases) {
        const test::CliRun r = test::runCli(c.args);
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args[0];
    }
    const test::CliRun tsv = test::runCli({ "info", folder.string() });
    EXPECT_EQ(tsv.out.substr(0, shown.size() + 5), shown + ".mp3\t");
    const test::CliRun json = test::runCli({ "info", "--json", folder.string() });
    EXPECT_EQ(json.out.rfind("{\"file\":\"x\\u001b[2J\\u202e\\u009b1m.mp3\",\"title\":", 0), 0u) << json.out;
}

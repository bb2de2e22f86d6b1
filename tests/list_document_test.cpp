#include "listgen/list_document.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

using namespace melodex;
using melodex::test::readFile;
using melodex::test::TempDir;

namespace {

// Tag texts are CP932 bytes, as the reader hands them over.
struct FakeTrack {
    std::string track, artist, album, year, comment, genre;
    int32_t bytes = 0, seconds = 0, bitRate = 0, samplingRate = 0;
    int32_t result = 1;
};

template <std::size_t N>
void put(char (&field)[N], const std::string& value)
{
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), std::min(N, value.size()));
}

class FakeReader {
public:
    std::map<std::string, FakeTrack> tracks; // by file name
    std::vector<std::string> paths; // every path asked for
    std::string throwOn; // a file name whose reading fails hard

    TrackReader reader()
    {
        return [this](const std::string& path, TrackTag& tag, StreamInfo& info) -> int32_t {
            paths.push_back(path);
            const std::string name = path.substr(path.rfind('/') + 1);
            if (name == throwOn)
                throw std::runtime_error("reader broke on " + name);
            const FakeTrack& t = tracks[name];
            put(tag.TrackName, t.track);
            put(tag.ArtistName, t.artist);
            put(tag.AlbumName, t.album);
            put(tag.Year, t.year);
            put(tag.Comment, t.comment);
            put(tag.GenreName, t.genre);
            info.FileBytes = t.bytes;
            info.TotalSeconds = t.seconds;
            info.BitRate = t.bitRate;
            info.SamplingRate = t.samplingRate;
            return t.result;
        };
    }
};

std::vector<std::string> lines(const std::string& doc)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t eol; (eol = doc.find("\r\n", start)) != std::string::npos; start = eol + 2)
        out.push_back(doc.substr(start, eol - start));
    EXPECT_EQ(start, doc.size()) << "the document must end with CR LF";
    return out;
}

// The lines from `first` (inclusive) up to the next `last` (inclusive).
std::vector<std::string> section(const std::vector<std::string>& all, const std::string& first,
    const std::string& last, std::size_t from = 0)
{
    auto b = std::find(all.begin() + static_cast<std::ptrdiff_t>(from), all.end(), first);
    auto e = std::find(b, all.end(), last);
    return e == all.end() ? std::vector<std::string> {} : std::vector<std::string>(b, e + 1);
}

std::vector<std::string> leftovers(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct ListRun {
    TempDir dir { "melodex-list" };
    FakeReader fake;
    TrackTag tag {};
    StreamInfo info {};
    OptionSet options;

    ListResult write(const std::vector<std::string>& files, const ListProgress& progress = {})
    {
        return writeListDocument(options, dir.path().string(), files, tag, info, fake.reader(), progress);
    }
    std::string document() const { return readFile(dir.path() / "list.htm"); }
};

const std::string kHeaderRowEnd = "</TR>";

} // namespace

TEST(ListDocument, WorkedExampleByteForByte)
{
    ListRun run;
    run.options.title = "Jazz";
    run.options.enabledColumns = 2;
    run.options.columns = { 0, 8, 1, 2, 3, 4, 5, 6, 7, 9, 10 };
    run.fake.tracks["a.mp3"] = { .bytes = 3000000, .seconds = 185 };
    const ListResult r = run.write({ "a.mp3" });
    ASSERT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(r.path, (run.dir.path() / "list.htm").string());

    const std::string expected
        = "<HTML><HEAD><TITLE>Jazz</TITLE>\r\n"
          "<META HTTP-EQUIV=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"></HEAD>\r\n"
          "<BODY BGCOLOR=\"WHITE\" TEXT=\"BLACK\" ><P><P>\r\n"
          "<TABLE BORDER=1 CELLPADDING=2 CELLSPACING=1 BGCOLOR=\"WHITE\" >\r\n"
          "<CAPTION ALIGN=\"left\"><FONT COLOR=\"RED\">Jazz</FONT></CAPTION><TR>\r\n"
          "<TH NOWRAP ALIGN=\"right\">#</TH>\r\n"
          "<TH NOWRAP>\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc</TH>\r\n"
          "<TH NOWRAP>\x83\x67\x81\x5b\x83\x5e\x83\x8b\x83\x5e\x83\x43\x83\x80</TH>\r\n"
          "</TR>\r\n"
          "<TR>\r\n"
          "<TD NOWRAP ALIGN=\"right\"> 1</TD>\r\n"
          "<TD NOWRAP ALIGN=\"left\">a.mp3</TD>\r\n"
          "<TD NOWRAP ALIGN=\"right\">00:03:05</TD>\r\n"
          "</TR>\r\n"
          "</TABLE><P><P><HR><P>\r\n"
          "<TABLE BORDER=1 CELLPADDING=2 CELLSPACING=1 BGCOLOR=\"WHITE\" >\r\n"
          "<TR><TD NOWRAP WIDTH=150>\x83\x74\x83\x40\x83\x43\x83\x8b\x91\x8d\x90\x94</TD>"
          "<TD NOWRAP WIDTH=100 ALIGN=\"center\"> 1</TD></TR>\r\n"
          "<TR><TD NOWRAP WIDTH=150>\x91\x8d\x83\x74\x83\x40\x83\x43\x83\x8b\x97\x65\x97\xca</TD>"
          "<TD NOWRAP WIDTH=100 ALIGN=\"center\">2.86 MB"
        + std::string(121, ' ')
        + "</TD></TR>\r\n"
          "<TR><TD NOWRAP WIDTH=150>\x91\x8d\x89\x89\x91\x74\x8e\x9e\x8a\xd4</TD>"
          "<TD NOWRAP WIDTH=100 ALIGN=\"center\">00:03:05</TD></TR>\r\n"
          "</TABLE>\r\n"
          "<P><P><P><FONT COLOR=\"RED\" >\r\n"
          // The footer stands alone inside the FONT the line above opens.
          "Created by Melodex\r\n"
          "</FONT></BODY></HTML>\r\n";
    EXPECT_EQ(run.document(), expected);
    EXPECT_EQ(run.fake.paths, std::vector<std::string> { (run.dir.path() / "a.mp3").string() });
}

TEST(ListDocument, ColumnChoicesShapeHeaderAndRowsAlike)
{
    struct Case {
        const char* what;
        int enabled;
        std::array<int, 11> columns;
        std::vector<std::string> header; // the TH lines after "#"
        std::vector<std::string> cells; // the TD lines after the row number
    };
    const std::string kFile = "<TD NOWRAP ALIGN=\"left\">x.mp3</TD>";
    const std::string kRate = "<TD NOWRAP ALIGN=\"right\">44100 Hz</TD>";
    const std::string kFileTh = "<TH NOWRAP>\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc</TH>";
    const std::string kRateTh
        = "<TH NOWRAP>\x83\x54\x83\x93\x83\x76\x83\x8a\x83\x93\x83\x4f\x83\x8c\x81\x5b\x83\x67</TH>";
    const Case cases[] = {
        { "only none", 1, { 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 }, {}, {} },
        { "repeated field", 3, { 0, 11, 0, 1, 1, 1, 1, 1, 1, 1, 1 }, { kFileTh, kFileTh }, { kFile, kFile } },
        // Choosers past n are ignored, even one without a valid field.
        { "past n", 2, { 10, 0, -1, 5, 5, 5, 5, 5, 5, 5, 5 }, { kRateTh, kFileTh }, { kRate, kFile } },
    };
    for (const auto& c : cases) {
        ListRun run;
        run.options.enabledColumns = c.enabled;
        run.options.columns = c.columns;
        run.fake.tracks["x.mp3"] = { .samplingRate = 44100 };
        ASSERT_TRUE(run.write({ "x.mp3" }).ok()) << c.what;
        const auto all = lines(run.document());
        auto header = section(all, "<TH NOWRAP ALIGN=\"right\">#</TH>", kHeaderRowEnd);
        ASSERT_FALSE(header.empty()) << c.what;
        EXPECT_EQ(std::vector<std::string>(header.begin() + 1, header.end() - 1), c.header) << c.what;
        auto row = section(all, "<TR>", kHeaderRowEnd, 5);
        ASSERT_GE(row.size(), 3u) << c.what;
        EXPECT_EQ(row[1], "<TD NOWRAP ALIGN=\"right\"> 1</TD>");
        EXPECT_EQ(std::vector<std::string>(row.begin() + 2, row.end() - 1), c.cells) << c.what;
    }
}

TEST(ListDocument, EveryFieldsCell)
{
    ListRun run;
    run.options.columns = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
    run.options.sizeUnit = kSizeKB;
    run.fake.tracks["t.mp3"] = { .track = " ",
        .artist = "",
        .album = "Album  ",
        .year = " ",
        .comment = "",
        .genre = "Pop",
        .bytes = 1536,
        .seconds = 3661,
        .bitRate = 128,
        .samplingRate = 48000 };
    run.fake.tracks["u.mp3"] = { .year = "1999", .bytes = 0 };
    ASSERT_TRUE(run.write({ "t.mp3", "u.mp3" }).ok());
    const auto all = lines(run.document());
    const auto rows = section(all, "<TR>", "</TABLE><P><P><HR><P>", 5);
    const std::vector<std::string> expected = {
        "<TR>",
        "<TD NOWRAP ALIGN=\"right\"> 1</TD>",
        "<TD NOWRAP ALIGN=\"left\">t.mp3</TD>",
        "<TD NOWRAP><BR></TD>", // one space: a line break, not an empty cell
        "<TD NOWRAP ALIGN=\"left\"></TD>", // empty: an empty aligned cell
        "<TD NOWRAP ALIGN=\"left\">Album  </TD>", // trailing spaces stay
        "<TD NOWRAP><BR></TD>",
        "<TD NOWRAP ALIGN=\"left\"></TD>",
        "<TD NOWRAP ALIGN=\"left\">Pop</TD>",
        "<TD NOWRAP ALIGN=\"right\">2 KB</TD>",
        "<TD NOWRAP ALIGN=\"right\">01:01:01</TD>",
        "<TD NOWRAP ALIGN=\"right\">128 kbps</TD>",
        "<TD NOWRAP ALIGN=\"right\">48000 Hz</TD>",
        "</TR>",
        "<TR>",
        "<TD NOWRAP ALIGN=\"right\"> 2</TD>",
        "<TD NOWRAP ALIGN=\"left\">u.mp3</TD>",
        "<TD NOWRAP ALIGN=\"left\"></TD>",
        "<TD NOWRAP ALIGN=\"left\"></TD>",
        "<TD NOWRAP ALIGN=\"left\"></TD>",
        "<TD NOWRAP ALIGN=\"right\">1999</TD>",
        "<TD NOWRAP ALIGN=\"left\"></TD>",
        "<TD NOWRAP ALIGN=\"left\"></TD>",
        "<TD NOWRAP ALIGN=\"right\">KB</TD>", // " KB" without its padding
        "<TD NOWRAP ALIGN=\"right\">00:00:00</TD>",
        "<TD NOWRAP ALIGN=\"right\">0 kbps</TD>",
        "<TD NOWRAP ALIGN=\"right\">0 Hz</TD>",
        "</TR>",
        "</TABLE><P><P><HR><P>",
    };
    EXPECT_EQ(rows, expected);
}

TEST(ListDocument, EmptyTitleAndBorder)
{
    ListRun run;
    run.options.title = "";
    run.options.borderText = "";
    ASSERT_TRUE(run.write({ "a.mp3" }).ok());
    const auto all = lines(run.document());
    ASSERT_GT(all.size(), 5u);
    EXPECT_EQ(all[0], "<HTML><HEAD><TITLE></TITLE>");
    EXPECT_EQ(all[3], "<TABLE BORDER= CELLPADDING=2 CELLSPACING=1 BGCOLOR=\"WHITE\" >");
    EXPECT_EQ(all[4], "<CAPTION ALIGN=\"left\"><FONT COLOR=\"RED\"></FONT></CAPTION><TR>");
}

TEST(ListDocument, TotalsPastTwoGibibytesAreFormattedNotFailed)
{
    ListRun run;
    for (const char* name : { "1.mp3", "2.mp3", "3.mp3" })
        run.fake.tracks[name] = { .bytes = 1000000000, .seconds = 2000000000 };
    const ListResult r = run.write({ "1.mp3", "2.mp3", "3.mp3" });
    ASSERT_TRUE(r.ok()) << r.reason;
    const std::string doc = run.document();
    EXPECT_NE(doc.find("<TD NOWRAP WIDTH=100 ALIGN=\"center\"> 3</TD></TR>"), std::string::npos);
    EXPECT_NE(
        doc.find("ALIGN=\"center\">2,861.02 MB" + std::string(117, ' ') + "</TD></TR>"), std::string::npos);
    EXPECT_NE(doc.find("ALIGN=\"center\">1666666:40:00</TD></TR>"), std::string::npos);
}

TEST(ListDocument, UnreadableFileKeepsItsRowSizeAndTagButNoStreamValues)
{
    ListRun run;
    run.options.columns = { 0, 1, 7, 8, 9, 10, 11, 11, 11, 11, 11 };
    run.options.enabledColumns = 6;
    // A file without audio may still hold its tag; the stream values a
    // reader that gave up left behind are not the file's.
    run.fake.tracks["bad.mp3"] = {
        .track = "tag only", .bytes = 285, .seconds = 99, .bitRate = 128, .samplingRate = 44100, .result = 0
    };
    ASSERT_TRUE(run.write({ "bad.mp3" }).ok());
    const auto all = lines(run.document());
    const auto row = section(all, "<TR>", "</TR>", 5);
    const std::vector<std::string> expected = {
        "<TR>",
        "<TD NOWRAP ALIGN=\"right\"> 1</TD>",
        "<TD NOWRAP ALIGN=\"left\">bad.mp3</TD>",
        "<TD NOWRAP ALIGN=\"left\">tag only</TD>",
        "<TD NOWRAP ALIGN=\"right\">285 Byte</TD>",
        "<TD NOWRAP ALIGN=\"right\">00:00:00</TD>",
        "<TD NOWRAP ALIGN=\"right\">0 kbps</TD>",
        "<TD NOWRAP ALIGN=\"right\">0 Hz</TD>",
        "</TR>",
    };
    EXPECT_EQ(row, expected);
    EXPECT_NE(run.document().find("ALIGN=\"center\">285 Byte "), std::string::npos);
}

TEST(ListDocument, EscapesEverythingFromFilesAndUsers)
{
    ListRun run;
    run.options.title = "a<b>&\"c\" Björk Ω";
    run.options.colorText[0] = "RED\" onload=\"x";
    run.options.borderText = "1 onmouseover=x";
    run.options.columns = { 0, 1, 2, 11, 11, 11, 11, 11, 11, 11, 11 };
    run.options.enabledColumns = 3;
    run.fake.tracks["a&b <c>.mp3"]
        = { .track = "R&amp;B <i>\"q\" &#233;", .artist = "<script>alert(1)</script>" };
    ASSERT_TRUE(run.write({ "a&b <c>.mp3" }).ok());
    const auto all = lines(run.document());
    const std::string title = "a&lt;b&gt;&amp;&quot;c&quot; Bj&#246;rk \x83\xb6";
    EXPECT_EQ(all[0], "<HTML><HEAD><TITLE>" + title + "</TITLE>");
    EXPECT_EQ(all[2], "<BODY BGCOLOR=\"RED&quot; onload=&quot;x\" TEXT=\"BLACK\" ><P><P>");
    EXPECT_EQ(all[3], "<TABLE BORDER=1&#32;onmouseover=x CELLPADDING=2 CELLSPACING=1 BGCOLOR=\"WHITE\" >");
    EXPECT_EQ(all[4], "<CAPTION ALIGN=\"left\"><FONT COLOR=\"RED\">" + title + "</FONT></CAPTION><TR>");
    const auto row = section(all, "<TR>", "</TR>", 5);
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[2], "<TD NOWRAP ALIGN=\"left\">a&amp;b &lt;c&gt;.mp3</TD>");
    // Tag fields arrive with "&" already a reference: it is not escaped twice.
    EXPECT_EQ(row[3], "<TD NOWRAP ALIGN=\"left\">R&amp;B &lt;i&gt;&quot;q&quot; &#233;</TD>");
    EXPECT_EQ(row[4], "<TD NOWRAP ALIGN=\"left\">&lt;script&gt;alert(1)&lt;/script&gt;</TD>");
}

TEST(ListDocument, FileNamesThatAreNotUtf8)
{
    struct Case {
        std::string name;
        std::string shown;
    };
    const Case cases[] = {
        { "Caf\xc3\xa9 \xe2\x80\x93 \xce\xa9.mp3",
            "Caf&#233; &#8211; \x83\xb6.mp3" }, // UTF-8, partly outside CP932
        { "\x83\x74\x83\x40<.mp3", "\x83\x74\x83\x40&lt;.mp3" }, // CP932 bytes from a Windows tool
        { "\xb1\xc6\xd2.mp3", "\xb1\xc6\xd2.mp3" }, // CP932 half-width katakana
        { "\xee\xe0\x8b\xb4.mp3", "\xee\xe0\x8b\xb4.mp3" }, // 髙橋, NEC-selected: the bytes, not ICU's FB FC
        { "Mon\xe1"
          "e & Caf\xe9.mp3",
            "Mon&#225;e &amp; Caf&#233;.mp3" }, // Windows-1252: its characters
        { "\x93quoted\x94 \x80.mp3", "\x81\x67quoted\x81\x68 &#8364;.mp3" }, // Windows-1252 that CP932 holds
    };
    for (const auto& c : cases) {
        ListRun run;
        run.options.columns = { 0, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11 };
        run.options.enabledColumns = 1;
        ASSERT_TRUE(run.write({ c.name }).ok());
        const auto row = section(lines(run.document()), "<TR>", "</TR>", 5);
        ASSERT_EQ(row.size(), 4u);
        EXPECT_EQ(row[2], "<TD NOWRAP ALIGN=\"left\">" + c.shown + "</TD>");
        EXPECT_EQ(run.fake.paths.at(0), (run.dir.path() / c.name).string())
            << "the reader gets the bytes unchanged";
    }
}

TEST(ListDocument, ReplacesAnExistingDocumentAndKeepsItsPermissions)
{
    ListRun run;
    const auto out = run.dir.write("list.htm", std::string(100000, 'x'));
    ::chmod(out.c_str(), 0640);
    ASSERT_TRUE(run.write({ "a.mp3" }).ok());
    const std::string doc = run.document();
    EXPECT_EQ(doc.rfind("<HTML>", 0), 0u);
    EXPECT_EQ(doc.find('x' + std::string(10, 'x')), std::string::npos);
    struct stat st { };
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(leftovers(run.dir.path()), std::vector<std::string> { "list.htm" });
}

TEST(ListDocument, OutputNameIsTrimmedAndEmptyNameFails)
{
    ListRun run;
    run.options.outFile = "  out.htm ";
    ListResult r = run.write({ "a.mp3" });
    ASSERT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(r.path, (run.dir.path() / "out.htm").string());

    run.options.outFile = "   ";
    r = run.write({ "a.mp3" });
    EXPECT_EQ(r.status, ListResult::Status::Failed);
    EXPECT_EQ(r.reason, "no output file name");
    EXPECT_EQ(leftovers(run.dir.path()), std::vector<std::string> { "out.htm" });
}

TEST(ListDocument, RootFolderGivesSingleSlashPaths)
{
    EXPECT_EQ(listDocumentPath("", "list.htm"), "/list.htm");
    EXPECT_EQ(listDocumentPath("/music", " list.htm "), "/music/list.htm");

    // Cancelled after the first file, so nothing is left in "/" however the
    // test runs; a user who may not write there gets a failure instead.
    FakeReader fake;
    TrackTag tag {};
    StreamInfo info {};
    const ListResult r = writeListDocument(OptionSet {}, "", { "a.mp3", "b.mp3" }, tag, info, fake.reader(),
        [](int done, int) { return done < 1; });
    EXPECT_EQ(r.path, "/list.htm");
    if (r.status == ListResult::Status::Cancelled)
        EXPECT_EQ(fake.paths, std::vector<std::string> { "/a.mp3" });
    else
        EXPECT_EQ(r.reason, "/list.htm: Permission denied");
}

TEST(ListDocument, FailureOrCancelLeavesThePreviousListIntact)
{
    const std::string previous = "the previous list\r\n";
    struct Case {
        const char* what;
        std::function<void(ListRun&)> setUp;
        ListResult::Status status;
        std::string reason; // empty: not checked
    };
    const Case cases[] = {
        { "chooser without a field", [](ListRun& r) { r.options.columns[1] = -1; },
            ListResult::Status::Failed, "column 2 has no valid field" },
        { "too many columns", [](ListRun& r) { r.options.enabledColumns = 12; }, ListResult::Status::Failed,
            "the number of columns must be 1 to 11, not 12" },
        { "reader fails hard", [](ListRun& r) { r.fake.throwOn = "b.mp3"; }, ListResult::Status::Failed,
            "reader broke on b.mp3" },
        { "output name is a folder",
            [](ListRun& r) {
                std::filesystem::create_directory(r.dir.path() / "sub.htm");
                r.options.outFile = "sub.htm";
            },
            ListResult::Status::Failed, "" },
    };
    for (const auto& c : cases) {
        ListRun run;
        run.dir.write("list.htm", previous);
        c.setUp(run);
        const ListResult r = run.write({ "a.mp3", "b.mp3", "c.mp3" });
        EXPECT_EQ(r.status, c.status) << c.what;
        if (!c.reason.empty()) {
            EXPECT_EQ(r.reason, c.reason) << c.what;
        }
        EXPECT_EQ(run.document(), previous) << c.what;
        auto names = leftovers(run.dir.path());
        names.erase(std::remove(names.begin(), names.end(), "sub.htm"), names.end());
        EXPECT_EQ(names, std::vector<std::string> { "list.htm" }) << c.what << ": no temporary file may stay";
    }

    // The folder's own failure names the path and the system's reason.
    ListRun run;
    const std::string missing = (run.dir.path() / "gone").string();
    FakeReader fake;
    const ListResult r
        = writeListDocument(OptionSet {}, missing, { "a.mp3" }, run.tag, run.info, fake.reader());
    EXPECT_EQ(r.status, ListResult::Status::Failed);
    EXPECT_EQ(r.reason, missing + "/list.htm: No such file or directory");
}

TEST(ListDocument, ProgressCountsFilesAndCancelWritesNothing)
{
    ListRun run;
    run.dir.write("list.htm", "old");
    std::vector<std::pair<int, int>> calls;
    ListResult r = run.write({ "a.mp3", "b.mp3" }, [&](int done, int total) {
        calls.emplace_back(done, total);
        return true;
    });
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(calls, (std::vector<std::pair<int, int>> { { 0, 2 }, { 1, 2 }, { 2, 2 } }));

    run.dir.write("list.htm", "old");
    r = run.write({ "a.mp3", "b.mp3" }, [](int done, int) { return done < 1; });
    EXPECT_EQ(r.status, ListResult::Status::Cancelled);
    EXPECT_EQ(run.document(), "old");
    EXPECT_EQ(leftovers(run.dir.path()), std::vector<std::string> { "list.htm" });
}

TEST(ListDocument, UnwritableFolderFailsWithItsReason)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write anywhere";
    ListRun run;
    run.dir.write("list.htm", "old");
    ::chmod(run.dir.path().c_str(), 0555);
    const ListResult r = run.write({ "a.mp3" });
    ::chmod(run.dir.path().c_str(), 0755);
    EXPECT_EQ(r.status, ListResult::Status::Failed);
    EXPECT_EQ(r.reason,
        (run.dir.path() / "list.htm").string() + ": the folder " + run.dir.path().string()
            + " refuses the write: Permission denied");
    EXPECT_EQ(run.document(), "old");
}

TEST(ListDocument, WriteFailureMidwayKeepsThePreviousList)
{
    // A file-size limit makes the write fail part way, as a full disk would,
    // and works even where permissions do not (root).
    ListRun run;
    run.dir.write("list.htm", "old");
    std::vector<std::string> files;
    for (int i = 0; i < 2000; ++i)
        files.push_back(std::to_string(i) + ".mp3");
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const ListResult r = run.write(files);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(r.status, ListResult::Status::Failed);
    EXPECT_EQ(r.reason, (run.dir.path() / "list.htm").string() + ": File too large");
    EXPECT_EQ(run.document(), "old");
    EXPECT_EQ(leftovers(run.dir.path()), std::vector<std::string> { "list.htm" });
}

TEST(ListDocument, OutputIsAPlainNameInTheFolder)
{
    struct Case {
        std::string name;
        bool accepted;
    };
    const Case cases[] = {
        { "", false },
        { "   ", false },
        { ".", false },
        { " .. ", false },
        { "../escape.htm", false },
        { "sub/x.htm", false },
        { "/abs.htm", false },
        { "sub/", false },
        { "..\\escape.htm", false },
        { std::string("a\0b.htm", 7), false },
        { "a\r\nb.htm", false },
        { "a\x7f.htm", false },
        { "a.mp3", false }, // would replace the track
        { "A.MP3", false }, // would be listed as one next time
        { " b.Mp3 ", false },
        { " list.htm ", true },
        { "リスト.htm", true },
        { "...", false }, // nothing once FAT has dropped its trailing dots
        { "song.mp3.", false }, // FAT finds the track by this name
        { "..mp3.", false },
        { "a.MP3 . ", false },
        { "list.htm.", true },
        { ".list.htm", true },
        { "a.mp3.htm", true },
        { "mp3", true },
    };
    for (const auto& c : cases) {
        TempDir root("melodex-list");
        const auto music = root.path() / "music";
        std::filesystem::create_directories(music / "sub");
        root.write("music/a.mp3", "track");
        FakeReader fake;
        TrackTag tag {};
        StreamInfo info {};
        OptionSet options;
        options.outFile = c.name;
        const ListResult r
            = writeListDocument(options, music.string(), { "a.mp3" }, tag, info, fake.reader());

        EXPECT_EQ(r.ok(), c.accepted) << c.name << ": " << r.reason;
        EXPECT_EQ(checkOutputName(c.name).has_value(), !c.accepted) << c.name;
        std::vector<std::string> tree;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root.path()))
            tree.push_back(std::filesystem::relative(e.path(), root.path()).string());
        std::sort(tree.begin(), tree.end());
        std::vector<std::string> expected { "music", "music/a.mp3", "music/sub" };
        if (c.accepted) {
            const auto b = c.name.find_first_not_of(' ');
            expected.push_back("music/" + c.name.substr(b, c.name.find_last_not_of(' ') - b + 1));
            std::sort(expected.begin(), expected.end());
        } else {
            EXPECT_FALSE(r.reason.empty()) << c.name;
        }
        EXPECT_EQ(tree, expected) << c.name;
        EXPECT_EQ(readFile(music / "a.mp3"), "track") << c.name;
    }
}

TEST(ListDocument, ReadOnlyListIsKeptEvenForRoot)
{
    // Renaming over a file asks only the folder, so the file's own mode must
    // be looked at; root passes every access check, so the mode bits decide.
    for (const bool throughLink : { false, true }) {
        ListRun run;
        const auto page = run.dir.write(throughLink ? "real.htm" : "list.htm", "previous");
        if (throughLink)
            std::filesystem::create_symlink("real.htm", run.dir.path() / "list.htm");
        ::chmod(page.c_str(), 0444);
        const ListResult r = run.write({ "a.mp3" });
        EXPECT_EQ(r.status, ListResult::Status::Failed);
        EXPECT_EQ(r.reason, (run.dir.path() / "list.htm").string() + ": the file is read-only");
        EXPECT_EQ(run.document(), "previous");
        EXPECT_EQ(leftovers(run.dir.path()).size(), throughLink ? 2u : 1u) << "no temporary may stay";
    }
}

TEST(ListDocument, LinkedListIsWrittenThroughAndStaysALink)
{
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links; // name, what it points to
        std::string written; // the file that receives the page
    };
    TempDir outside("melodex-list-target");
    const Case cases[] = {
        { "relative", { { "list.htm", "pages/real.htm" } }, "pages/real.htm" },
        { "chain", { { "list.htm", "hop.htm" }, { "hop.htm", "pages/real.htm" } }, "pages/real.htm" },
        { "dangling", { { "list.htm", "pages/new.htm" } }, "pages/new.htm" },
        { "absolute", { { "list.htm", (outside.path() / "abs.htm").string() } },
            (outside.path() / "abs.htm").string() },
    };
    for (const auto& c : cases) {
        ListRun run;
        std::filesystem::create_directory(run.dir.path() / "pages");
        run.dir.write("pages/real.htm", "previous");
        ::chmod((run.dir.path() / "pages/real.htm").c_str(), 0604);
        for (const auto& [name, to] : c.links)
            std::filesystem::create_symlink(to, run.dir.path() / name);
        ASSERT_TRUE(run.write({ "a.mp3" }).ok()) << c.what;
        const auto written = run.dir.path() / c.written;
        EXPECT_EQ(readFile(written).rfind("<HTML>", 0), 0u) << c.what;
        for (const auto& [name, to] : c.links) {
            EXPECT_TRUE(std::filesystem::is_symlink(run.dir.path() / name)) << c.what;
            EXPECT_EQ(std::filesystem::read_symlink(run.dir.path() / name), to) << c.what;
        }
        if (c.written == "pages/real.htm") {
            struct stat st { };
            ::stat(written.c_str(), &st);
            EXPECT_EQ(st.st_mode & 0777, 0604u) << c.what << ": the target keeps its permissions";
        }
    }

    // Through a link or not, a track is never what the list replaces.
    ListRun run;
    run.dir.write("a.mp3", "track");
    std::filesystem::create_symlink("a.mp3", run.dir.path() / "list.htm");
    EXPECT_EQ(run.write({ "a.mp3" }).status, ListResult::Status::Failed);
    EXPECT_EQ(readFile(run.dir.path() / "a.mp3"), "track");
    EXPECT_EQ(leftovers(run.dir.path()), (std::vector<std::string> { "a.mp3", "list.htm" }));
}

TEST(ListDocument, SizesPastTheRecordsLimitShowWhole)
{
    // The record stops at 2,147,483,647 bytes; the file system knows better.
    struct Case {
        std::vector<int64_t> sizes;
        int unit;
        std::string cell; // the first file's size cell
        std::string total; // the total's text
    };
    const int64_t kGiB = int64_t { 1 } << 30;
    const int64_t kTiB = int64_t { 1 } << 40;
    const Case cases[] = {
        { { 3 * kGiB }, kSizeByte, "3,221,225,472 Byte", "3,072.00 MB" },
        { { 3 * kGiB, 1000 }, kSizeMB, "3,072.00 MB", "3,072.00 MB" },
        { { 2 * kTiB, 2 * kTiB }, kSizeKB, "2,147,483,648 KB", "4,194,304.00 MB" },
    };
    for (const auto& c : cases) {
        ListRun run;
        run.options.columns = { 7, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11 };
        run.options.enabledColumns = 1;
        run.options.sizeUnit = c.unit;
        std::vector<std::string> names;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            const std::string name = std::to_string(i) + ".mp3";
            names.push_back(name);
            std::error_code ec;
            std::filesystem::resize_file(run.dir.write(name), static_cast<uintmax_t>(c.sizes[i]), ec);
            if (ec)
                GTEST_SKIP() << "this file system cannot hold a sparse file of " << c.sizes[i] << " bytes";
            // What the track record holds for it.
            const int64_t recorded = std::min<int64_t>(c.sizes[i], INT32_MAX);
            run.fake.tracks[name] = { .bytes = static_cast<int32_t>(recorded) };
        }
        ASSERT_TRUE(run.write(names).ok());
        const std::string doc = run.document();
        EXPECT_NE(doc.find("<TD NOWRAP ALIGN=\"right\">" + c.cell + "</TD>"), std::string::npos) << c.cell;
        EXPECT_NE(doc.find("ALIGN=\"center\">" + c.total + " "), std::string::npos) << c.total;
    }
}

TEST(ListDocument, ControlCharactersShowAsTheirPictures)
{
    ListRun run;
    run.options.title = std::string("a\0b\x01\x7f", 5);
    run.options.colorText[0] = "RED\r\nX";
    run.options.borderText = "1\t2";
    run.options.columns = { 0, 1, 2, 11, 11, 11, 11, 11, 11, 11, 11 };
    run.options.enabledColumns = 3;
    const std::string name = "x\ty\x1f.mp3";
    run.fake.tracks[name] = { .track = "one\r\ntwo", .artist = "\x1b[31mred" };
    ASSERT_TRUE(run.write({ name }).ok());
    const std::string doc = run.document();
    for (std::size_t i = 0; i < doc.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(doc[i]);
        const bool lineEnd = (c == '\r' && doc[i + 1] == '\n') || (c == '\n' && i > 0 && doc[i - 1] == '\r');
        ASSERT_TRUE((c >= 0x20 && c != 0x7f) || lineEnd) << "raw control byte " << int(c) << " at " << i;
    }
    const auto all = lines(doc);
    EXPECT_EQ(all[0], "<HTML><HEAD><TITLE>a&#9216;b&#9217;&#9249;</TITLE>");
    EXPECT_EQ(all[2], "<BODY BGCOLOR=\"RED&#9229;&#9226;X\" TEXT=\"BLACK\" ><P><P>");
    EXPECT_EQ(all[3], "<TABLE BORDER=1&#9225;2 CELLPADDING=2 CELLSPACING=1 BGCOLOR=\"WHITE\" >");
    const auto row = section(all, "<TR>", "</TR>", 5);
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[2], "<TD NOWRAP ALIGN=\"left\">x&#9225;y&#9247;.mp3</TD>");
    EXPECT_EQ(row[3], "<TD NOWRAP ALIGN=\"left\">one&#9229;&#9226;two</TD>");
    EXPECT_EQ(row[4], "<TD NOWRAP ALIGN=\"left\">&#9243;[31mred</TD>");
}

TEST(CheckOutputName, RefusesTheExtensionOfEveryListedFormat)
{
    const struct {
        const char* name;
        const char* formats;
        const char* refusedAs; // "" when accepted
    } cases[] = {
        { "a.flac", "mp3", "" },
        { "a.flac", "all", ".flac" },
        { "a.OGA.", "all", ".oga" },
        { "a.mp4", "all", "" }, // .mp4 files are listed only when "mp4" is named
        { "a.mp4", "mp4", ".mp4" },
        { "a.mp3", "flac", ".mp3" }, // never: the folder's MP3s stay tracks whatever is listed
        { "a.flac.htm", "all", "" },
    };
    for (const auto& c : cases) {
        const auto why = checkOutputName(c.name, FormatSet::parse(c.formats).value());
        EXPECT_EQ(why.has_value(), *c.refusedAs != '\0') << c.name << " " << c.formats;
        if (why) {
            EXPECT_NE(why->find(std::string("\"") + c.refusedAs + "\""), std::string::npos) << *why;
        }
    }
}

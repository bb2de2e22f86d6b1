// The plain tag reader: on the tag shapes TagLib reads right it answers
// exactly what TagLib answers; on the rest, what the ID3v2 documents mean.
#include "trackinfo/plain_tags.h"

#include "common/sjis.h"
#include "trackinfo/vbmp3.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include "taglib_reading.h"
#include "test_support.h"

using namespace melodex;
using namespace std::string_literals;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

struct Reading {
    int32_t rc;
    TrackTag tag;
    StreamInfo info;
};

enum class Reader { Plain, TagLib };

Reading readAs(const fs::path& path, Reader how)
{
    Reading r {};
    r.rc = how == Reader::Plain ? vbmp3_getFileInfo(path.c_str(), &r.tag, &r.info)
                                : test::tagLibFileInfo(path.c_str(), &r.tag, &r.info);
    return r;
}

std::string describe(const Reading& r)
{
    return "title=" + TrimNul(r.tag.TrackName) + " artist=" + TrimNul(r.tag.ArtistName) + " album="
        + TrimNul(r.tag.AlbumName) + " year=" + TrimNul(r.tag.Year) + " comment=" + TrimNul(r.tag.Comment)
        + " genre=" + TrimNul(r.tag.GenreName) + " track=" + std::to_string(r.tag.Number);
}

// The six texts as the list shows them: title, artist, album, year, comment, genre.
using Shown = std::array<std::string, 6>;

std::string shown(std::string_view field) { return sjis::decode(TrimNul(field)); }

Shown shownOf(const Reading& r)
{
    return { shown({ r.tag.TrackName, sizeof r.tag.TrackName }),
        shown({ r.tag.ArtistName, sizeof r.tag.ArtistName }),
        shown({ r.tag.AlbumName, sizeof r.tag.AlbumName }), shown({ r.tag.Year, sizeof r.tag.Year }),
        shown({ r.tag.Comment, sizeof r.tag.Comment }), shown({ r.tag.GenreName, sizeof r.tag.GenreName }) };
}

// Where the plain reader says TagLib reads the shape right, both readings
// are compared byte for byte (the fuzzer relies on that); false where it
// says they may differ.
bool comparedWithTagLib(const fs::path& path)
{
    if (!test::tagLibReadsAlike(path.c_str()))
        return false;
    const Reading plain = readAs(path, Reader::Plain);
    const Reading taglib = readAs(path, Reader::TagLib);
    EXPECT_EQ(plain.rc, taglib.rc) << path;
    EXPECT_EQ(describe(plain), describe(taglib)) << path;
    EXPECT_EQ(std::memcmp(&plain.tag, &taglib.tag, sizeof plain.tag), 0) << path;
    EXPECT_EQ(std::memcmp(&plain.info, &taglib.info, sizeof plain.info), 0) << path;
    return true;
}

std::string be32(uint32_t n)
{
    return { char(n >> 24), char(n >> 16 & 0xFF), char(n >> 8 & 0xFF), char(n & 0xFF) };
}

std::string synchsafe(uint32_t n)
{
    return { char(n >> 21 & 0x7F), char(n >> 14 & 0x7F), char(n >> 7 & 0x7F), char(n & 0x7F) };
}

std::string frame(int version, const std::string& id, const std::string& body,
    const std::string& flags = std::string(2, '\0'))
{
    return id + (version == 4 ? synchsafe(body.size()) : be32(body.size())) + std::string(flags.data(), 2)
        + body;
}

std::string tag(int version, const std::string& frames, std::size_t padding = 0, char flags = 0)
{
    return std::string("ID3") + char(version) + '\0' + flags + synchsafe(frames.size() + padding) + frames
        + std::string(padding, '\0');
}

// ID3v2.2: three-letter ID, three-byte size, no flags.
std::string frame22(const std::string& id, const std::string& body)
{
    return id + be32(body.size()).substr(1) + body;
}

// A 0x00 after each 0xFF that a following byte could make look like a sync.
std::string unsynchronise(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (static_cast<unsigned char>(s[i]) == 0xFF
            && (i + 1 == s.size() || static_cast<unsigned char>(s[i + 1]) >= 0xE0 || s[i + 1] == '\0'))
            out += '\0';
    }
    return out;
}

std::string deflated(const std::string& s)
{
    uLongf n = compressBound(s.size());
    std::string out(n, '\0');
    compress2(
        reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(s.data()), s.size(), 9);
    out.resize(n);
    return out;
}

// Frames for all six texts: TYER in ID3v2.3, TDRC in 2.4.
std::string sixFrames(int v)
{
    return frame(v, "TIT2", "\0Title"s) + frame(v, "TPE1", "\0Artist"s) + frame(v, "TALB", "\0Album"s)
        + frame(v, v == 3 ? "TYER" : "TDRC",
            "\0"
            "1999"s)
        + frame(v, "COMM", "\0eng\0Comment"s) + frame(v, "TCON", "\0(13)"s);
}

const Shown kSix { "Title", "Artist", "Album", "1999", "Comment", "Pop" };

std::string utf16le(const std::u16string& s)
{
    std::string out = "\xFF\xFE";
    for (const char16_t c : s) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

std::string utf16be(const std::u16string& s, bool bom = true)
{
    std::string out = bom ? "\xFE\xFF" : "";
    for (const char16_t c : s) {
        out += char(c >> 8);
        out += char(c & 0xFF);
    }
    return out;
}

std::string le32(uint32_t n)
{
    return { char(n & 0xFF), char(n >> 8 & 0xFF), char(n >> 16 & 0xFF), char(n >> 24) };
}

// An APEv2 tag without a header: items (of the type in flags), then the
// footer, which may claim more items than there are.
std::string ape(const std::vector<std::pair<std::string, std::string>>& items, uint32_t flags = 0,
    std::size_t claimed = 0)
{
    std::string body;
    for (const auto& [key, value] : items)
        body += le32(value.size()) + le32(flags) + key + '\0' + value;
    return body + "APETAGEX" + le32(2000) + le32(body.size() + 32) + le32(std::max(claimed, items.size()))
        + le32(0) + std::string(8, '\0');
}

std::string id3v1(
    const std::string& title, const std::string& year, const std::string& comment, int track, int genre)
{
    auto field = [](std::string s, std::size_t n) {
        s.resize(n, '\0');
        return s;
    };
    std::string block = "TAG" + field(title, 30) + field("Artist", 30) + field("Album", 30) + field(year, 4);
    if (track > 0)
        block += field(comment, 28) + '\0' + char(track);
    else
        block += field(comment, 30);
    return block + char(genre);
}

const std::string& audio()
{
    static const std::string bytes = test::readFile(test::corpusDir() / "no_tags.mp3");
    return bytes;
}

struct Case {
    std::string name;
    std::string head;
    std::string tail;
    // What the list shows; nothing where TagLib reads the shape right, and
    // the plain reader must answer as it does.
    std::optional<Shown> shows = std::nullopt;
};

void checkCases(const std::vector<Case>& cases)
{
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.write(c.name + ".mp3", c.head + audio() + c.tail);
        const bool compared = comparedWithTagLib(path);
        if (!c.shows) {
            EXPECT_TRUE(compared) << "flagged as a shape TagLib reads differently";
        } else {
            EXPECT_EQ(shownOf(readAs(path, Reader::Plain)), *c.shows);
        }
    }
}

} // namespace

// Where TagLib reads a corpus file's tags right, the two readings agree.
TEST(PlainTags, AgreesWithTagLibOnTheCorpusWhereItIsRight)
{
    int compared = 0, files = 0;
    for (const fs::path& dir : { test::corpusDir(), test::corpusDir() / "thirdparty" }) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            const auto ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".mp3" && ext != ".MP3"))
                continue;
            SCOPED_TRACE(entry.path());
            ++files;
            compared += comparedWithTagLib(entry.path());
        }
    }
    EXPECT_GT(files, 30);
    EXPECT_GT(compared * 4, files * 3);
}

TEST(PlainTags, TextEncodingsAndSeveralValues)
{
    const std::string t2 = "TIT2", t1 = "TPE1", al = "TALB";
    auto title = [](const std::string& t) { return Shown { t, "", "", "", "", "" }; };
    checkCases({
        { "latin1_cp932_utf8_v3",
            tag(3,
                frame(3, t2,
                    "\0"
                    "\x93\x8C\x8B\x9E\x82\xCC\x96\xE9"s)
                    + frame(3, t1, "\0Bj\xF6rk"s)
                    + frame(3, al,
                        "\0"
                        "caf\xC3\xA9\0"s)) },
        { "utf16_both_orders_v3",
            tag(3,
                frame(3, t2, "\x01" + utf16le(u"桜の花びら")) + frame(3, t1, "\x01" + utf16be(u"Ω ♪"))
                    + frame(3, al, "\x01" + utf16le(u"𝄞 clef") + std::string(2, '\0'))) },
        { "utf16be_and_utf8_v4",
            tag(4,
                frame(4, t2, "\x02" + utf16be(u"東京", false))
                    + frame(4, t1,
                        "\x03"
                        "佐藤 一郎\0\0"s)
                    + frame(4, al,
                        "\x03"
                        "\xEF\xBB\xBF"
                        "BOM"s)) },
        { "several_values",
            tag(4,
                frame(4, t2,
                    "\x03"
                    "one\0two\0\0three"s)
                    + frame(4, t1, "\0a\0b"s)) },
        { "empty_and_one_byte_frames", tag(3, frame(3, t2, "\0"s) + frame(3, t1, "\x01"s)) },
        // Several values of a field are shown joined: in one frame, in
        // several, in an APE item; TagLib shows the first frame's alone.
        { "titles_of_two_frames", tag(3, frame(3, t2, "\0first"s) + frame(3, t2, "\0second"s)), "",
            title("first; second") },
        { "lists_and_genres_joined",
            tag(4,
                frame(4, t1,
                    "\x03"
                    "A\0B"s)
                    + frame(4, al, "\x03X"s)
                    + frame(4, "TCON",
                        "\x03"
                        "17\0Pop\0"
                        "255"s)
                    + frame(4, "TDRC",
                        "\x03"
                        "1999\0"
                        "2001"s)),
            "", Shown { "", "A; B", "X", "1999", "", "Rock; Pop" } },
        { "genres_of_two_frames", tag(3, frame(3, "TCON", "\0(17)"s) + frame(3, "TCON", "\0Jazz"s)), "",
            Shown { "", "", "", "", "", "Rock; Jazz" } },
        { "ape_values_joined", "",
            ape({ { "Artist", "a\0b"s }, { "Genre", "13\0Rock"s }, { "Comment", "x\0y"s } }),
            Shown { "", "a; b", "", "", "x; y", "Pop; Rock" } },
        // Writers that leave the byte order mark out wrote little-endian.
        { "utf16_without_bom", tag(3, frame(3, t2, "\x01" + utf16le(u"Betwixt").substr(2))), "",
            title("Betwixt") },
        { "utf16_two_values_one_bom",
            tag(3, frame(3, t2, "\x01" + utf16le(u"a") + std::string(2, '\0') + utf16le(u"b").substr(2))), "",
            title("a; b") },
        // All texts of a frame share one byte order.
        { "utf16_values_share_big_endian",
            tag(4,
                frame(4, "COMM",
                    "\x01"
                    "eng"
                        + utf16be(u"") + std::string(2, '\0') + utf16be(u"big", false))),
            "", Shown { "", "", "", "", "big", "" } },
        { "utf16_odd_byte_count",
            tag(3,
                frame(3, t2,
                    "\x01\xFF\xFE"
                    "a\0b"s)),
            "", title("ab") },
        { "lone_surrogate",
            tag(3,
                frame(3, t2,
                    "\x01\xFF\xFE\x00\xD8"
                    "a\0"s)),
            "", title("\uFFFDa") },
        { "bad_utf8", tag(4, frame(4, t2, "\x03\xC3(x"s)), "", title("\uFFFD(x") },
        { "unknown_encoding_skipped", tag(4, frame(4, t2, "\x07text"s) + frame(4, t2, "\0second"s)), "",
            title("second") },
    });
}

TEST(PlainTags, CommentsGenresYearsAndTracks)
{
    auto comm = [](int v, const std::string& body) { return frame(v, "COMM", body); };
    auto year = [](const std::string& y) { return Shown { "", "", "", y, "", "" }; };
    checkCases({
        { "comment_without_description_wins",
            tag(3, comm(3, "\0engiTunNORM\0 0000 0001"s) + comm(3, "\0eng\0real comment"s)) },
        { "one_described_comment", tag(3, comm(3, "\0engdesc\0text"s)) },
        { "two_described_comments", tag(3, comm(3, "\0enga\0x"s) + comm(3, "\0engb\0y"s)) },
        { "comments_among_user_texts",
            tag(4,
                frame(4, "TXXX", "\0desc\0value"s)
                    + comm(4,
                        "\0engiTunPGAP\0"
                        "0"s)
                    + frame(4, "TXXX", "\0a\0b"s) + comm(4, "\0eng\0shown"s)) },
        { "utf16_comment_with_terminator",
            tag(3,
                comm(3,
                    "\x01jpn" + utf16le(u"") + std::string(2, '\0') + utf16le(u"コメント")
                        + std::string(2, '\0'))) },
        { "text_after_a_nul_is_not_shown",
            tag(3,
                comm(3,
                    "\x01jpn" + utf16le(u"") + std::string(2, '\0') + utf16le(u"ab") + std::string(2, '\0')
                        + "c\0d\0"s)) },
        { "utf8_comment_with_terminator", tag(4, comm(4, "\x03jpn\0高音質\0"s)) },
        { "short_and_undelimited_comments", tag(3, comm(3, "\0en"s) + comm(3, "\0engnodelimiter"s)) },
        { "unreadable_comment_not_counted", tag(3, comm(3, "\x09eng\0x"s) + comm(3, "\0engdesc\0only"s)), "",
            Shown { "", "", "", "", "only", "" } },
        { "genres_v3", tag(3, frame(3, "TCON", "\0(13)Rock"s) + frame(3, "TIT2", "\0x"s)) },
        { "genre_rx_v3", tag(3, frame(3, "TCON", "\0(RX)"s)) },
        { "genre_rx_v4", tag(4, frame(4, "TCON", "\0(RX)"s)) },
        { "genre_number_and_name_v3", tag(3, frame(3, "TCON", "\0(13)Pop"s)) },
        { "genre_number_and_name_v4", tag(4, frame(4, "TCON", "\0(13)Rock"s)) },
        { "genre_spaced_number", tag(3, frame(3, "TCON", "\0( 8)"s)) },
        { "genre_escaped_paren", tag(3, frame(3, "TCON", "\0((free)"s)) },
        { "genre_list_v4",
            tag(4,
                frame(4, "TCON",
                    "\x03\0"
                    "Jazz\0"
                    "17"s)) },
        { "genre_wide_number_is_no_number", tag(3, frame(3, "TCON", "\x03(１３)Pop"s)), "",
            Shown { "", "", "", "", "", "Pop" } },
        { "tyer_and_tdrc_v3",
            tag(3,
                frame(3, "TYER", "\0 1999"s)
                    + frame(3, "TDRC",
                        "\x00"
                        "2001"s)) },
        { "tdrc_over_tyer_v4",
            tag(4,
                frame(4, "TYER",
                    "\0"
                    "1999"s)
                    + frame(4, "TDRC",
                        "\0"
                        "2001-05-01"s)) },
        { "tyer_and_tdat_v3",
            tag(3,
                frame(3, "TDAT",
                    "\0"
                    "0105"s)
                    + frame(3, "TYER",
                        "\0"
                        "2003"s)) },
        { "trdc_typo_v4",
            tag(4,
                frame(4, "TRDC",
                    "\0"
                    "1987"s)) },
        { "year_in_a_date", tag(3, frame(3, "TYER", "\0Oct 3, 1995"s)), "", year("1995") },
        { "full_width_year", tag(4, frame(4, "TDRC", "\x03２００３年"s)), "", year("2003") },
        { "year_beyond_bmp_is_none", tag(4, frame(4, "TDRC", "\x03𝟚𝟘𝟘𝟛"s)), "", year("") },
        // A year text without a year leaves the field to the next tag.
        { "no_year_in_v2_then_v1", tag(3, frame(3, "TYER", "\0Oct"s)), id3v1("", "1995", "", 0, 255),
            Shown { "", "Artist", "Album", "1995", "", "" } },
        { "v1_year_without_digits", "", id3v1("", "'95 ", "", 0, 255),
            Shown { "", "Artist", "Album", "", "", "" } },
        { "ape_year_in_a_date", "", ape({ { "Year", "May 2003" } }), year("2003") },
        { "tracks", tag(3, frame(3, "TRCK", "\0 7/12"s)) },
        { "track_overflow",
            tag(3,
                frame(3, "TRCK",
                    "\0"
                    "99999999999"s)) },
        { "track_negative", tag(3, frame(3, "TRCK", "\0-1"s)) },
        { "track_text", tag(3, frame(3, "TRCK", "\0x"s)) },
    });
}

TEST(YearOf, FirstFourDigitsInARow)
{
    const std::pair<std::string, std::string> cases[] = {
        { "1999", "1999" },
        { " 1999 ", "1999" },
        { "2003-05-01", "2003" },
        { "20030501", "2003" },
        { "Oct 3, 1995", "1995" },
        { "9 Oct 1995", "1995" },
        { "Oct ", "" },
        { "'95", "" },
        { "19", "" },
        { "1 9 9 5", "" },
        { "12345", "1234" },
        { "c.1999?", "1999" },
        { "２００３年", "2003" },
        { "平成１５年 2003", "2003" },
        { "", "" },
    };
    for (const auto& [text, year] : cases)
        EXPECT_EQ(trackinfo::yearOf(text), year) << text;
}

TEST(PlainTags, TagShapesAndSizes)
{
    const std::string cover = "\0image/png\0\x03\0"s + std::string(300, '\x89');
    const std::string text = frame(4, "TIT2", "\0"s + std::string(200, 'a'));
    const std::string a255(255, 'a');
    // Sizes as plain numbers in ID3v2.4: 256 reads as synchsafe 128, which
    // lands inside the text; 201 is no synchsafe number at all.
    const std::string itunes = "TIT2" + be32(256) + "\0\0\0"s + a255 + frame(4, "TPE1", "\0x"s);
    const std::string notSynchsafe
        = "TIT2" + be32(201) + "\0\0\0"s + std::string(200, 'a') + frame(4, "TPE1", "\0x"s);
    const Shown longTitle { std::string(128, 'a'), "x", "", "", "", "" };
    const std::string sixV1 = id3v1("v1", "2004", "v1", 0, 17);
    checkCases({
        { "cover_first_and_padding",
            tag(3, frame(3, "APIC", cover) + frame(3, "TIT2", "\0after the picture"s), 1024) },
        { "large_v4_frame_followed_by_frame", tag(4, text + frame(4, "TPE1", "\0x"s)) },
        { "large_v4_frame_then_padding", tag(4, text, 64) },
        { "no_padding_frames_to_the_end", tag(3, frame(3, "TIT2", "\0x"s)) },
        { "itunes_sizes", tag(4, itunes), "", longTitle },
        { "v4_size_not_synchsafe", tag(4, notSynchsafe), "", longTitle },
        { "junk_after_frames", tag(3, frame(3, "TIT2", "\0x"s) + "junk", 16), "",
            Shown { "x", "", "", "", "", "" } },
        { "frame_past_tag_end", tag(3, sixFrames(3) + "TPE2" + be32(500) + "\0\0\0x"s), "", kSix },
        { "tag_size_past_file_end", "ID3\x03\0\0\x7F\x7F\x7F\x7F"s + sixFrames(3), "", kSix },
        { "status_flags_only", tag(4, frame(4, "TIT2", "\0Title"s, "\x60\0"s) + sixFrames(4)), "", kSix },
        // ID3v2.5 may change anything: its frames are not guessed at.
        { "unknown_version_left_unread", tag(5, frame(4, "TIT2", "\0x"s)), "", Shown {} },
        { "junk_before_audio", std::string(700, 'j'), "", Shown {} },
        { "tag_behind_junk", std::string(7, 'j') + tag(3, frame(3, "TIT2", "\0x"s)), "",
            Shown { "x", "", "", "", "", "" } },
    });
}

// The shapes TagLib 1.13 loses frames or whole tags on.
TEST(PlainTags, ShapesTagLibLoses)
{
    auto ext3 = [](bool crc) {
        return crc ? be32(10) + "\x80\0"s + be32(0) + "\xFF\xE1\x00\x12"s : be32(6) + "\0\0"s + be32(0);
    };
    const std::string ext4 = synchsafe(6) + "\x01\0"s;
    const std::string ext4Crc = synchsafe(12) + "\x01\x20\x05\x01\x7F\x7F\x7F\x7F"s;
    const std::string ffText = "\x01" + utf16le(u"ÿ Title ÿ"); // FF FE, FF 00: both unsynchronised
    const Shown ff { "ÿ Title ÿ", "Artist", "Album", "1999", "Comment", "Pop" };
    const std::string sixNoTitle3 = sixFrames(3).substr(frame(3, "TIT2", "\0Title"s).size());
    const std::string sixNoTitle4 = sixFrames(4).substr(frame(4, "TIT2", "\0Title"s).size());
    auto empty = [](int v) { return frame(v, "TENC", "") + frame(v, "WXXX", "") + frame(v, "TCOP", ""); };
    auto compressed4 = [](const std::string& body, uint32_t declared) {
        return frame(4, "TIT2", synchsafe(declared) + deflated(body), "\0\x09"s);
    };
    const std::string sixV1 = id3v1("v1", "2004", "v1", 0, 17);
    const std::string v22 = frame22("TT2", "\0Title"s) + frame22("TP1", "\0Artist"s)
        + frame22("TAL", "\0Album"s)
        + frame22("TYE",
            "\0"
            "1999"s)
        + frame22("COM", "\0eng\0Comment"s) + frame22("TCO", "\0(13)"s);
    checkCases({
        { "v3_extended_header_last_frame_at_tag_end", tag(3, ext3(false) + sixFrames(3), 0, '\x40'), "",
            kSix },
        { "v3_extended_header_with_crc", tag(3, ext3(true) + sixFrames(3), 0, '\x40'), "", kSix },
        { "v4_extended_header", tag(4, ext4 + sixFrames(4), 0, '\x40'), "", kSix },
        { "v4_extended_header_with_crc_then_tcon_13",
            tag(4,
                ext4Crc
                    + frame(4, "TCON",
                        "\0"
                        "13"s)
                    + frame(4, "TIT2", "\0Title"s),
                0, '\x40'),
            "", Shown { "Title", "", "", "", "", "Pop" } },
        { "extended_header_flag_without_header", tag(3, sixFrames(3), 0, '\x40'), "", kSix },
        { "v3_extended_header_larger_than_tag", tag(3, be32(5000) + sixFrames(3), 0, '\x40'), sixV1,
            Shown { "v1", "Artist", "Album", "2004", "v1", "Rock" } },
        { "v3_unsynchronised", tag(3, unsynchronise(frame(3, "TIT2", ffText) + sixNoTitle3), 0, '\x80'), "",
            ff },
        { "v3_unsynchronised_with_extended_header",
            tag(3, unsynchronise(ext3(true) + frame(3, "TIT2", ffText) + sixNoTitle3), 0, '\xC0'), "", ff },
        { "v4_unsynchronised_frame_with_length",
            tag(4,
                frame(4, "TIT2", synchsafe(ffText.size()) + unsynchronise(ffText), "\0\x03"s) + sixNoTitle4),
            "", ff },
        { "v4_unsynchronised_tag", tag(4, frame(4, "TIT2", unsynchronise(ffText)) + sixNoTitle4, 0, '\x80'),
            "", ff },
        // The flag without the unsynchronisation: 0xFF 0xFE cannot come out of it.
        { "v3_unsynchronised_flag_on_plain_tag", tag(3, frame(3, "TIT2", ffText) + sixNoTitle3, 0, '\x80'),
            "", ff },
        { "v4_unsynchronised_flag_on_plain_frame",
            tag(4, frame(4, "TIT2", ffText, "\0\x02"s) + sixNoTitle4, 0, '\x80'), "", ff },
        { "v3_empty_frames_first", tag(3, empty(3) + sixFrames(3)), "", kSix },
        { "v4_empty_frames_first", tag(4, empty(4) + sixFrames(4)), "", kSix },
        { "v3_bad_frame_id_skipped", tag(3, frame(3, "Date", "\0 2001"s) + sixFrames(3)), "", kSix },
        { "v4_bad_frame_id_skipped", tag(4, frame(4, "tit2", "\0lower"s) + sixFrames(4), 32), "", kSix },
        { "bad_frame_id_past_tag_end_ends_frames", tag(3, sixFrames(3) + "Date" + be32(9999) + "\0\0"s), "",
            kSix },
        { "v4_compressed_frame_length_wrong", tag(4, compressed4("\0Title"s, 3) + sixNoTitle4), "", kSix },
        { "v4_compressed_frame_length_right",
            tag(4, compressed4("\x01" + utf16le(u"Title"), 14) + sixNoTitle4), "", kSix },
        { "v3_compressed_frame",
            tag(3, frame(3, "TIT2", be32(6) + deflated("\0Title"s), "\0\x80"s) + sixNoTitle3), "", kSix },
        { "broken_compressed_frame_skipped",
            tag(4, frame(4, "TIT2", synchsafe(6) + "\x78\x9C garbage"s, "\0\x09"s) + sixFrames(4)), "",
            kSix },
        { "v3_encrypted_frame_skipped", tag(3, frame(3, "TIT2", "\x80secret"s, "\0\x40"s) + sixFrames(3)), "",
            kSix },
        { "v4_encrypted_frame_skipped", tag(4, frame(4, "TIT2", "\x80secret"s, "\0\x04"s) + sixFrames(4)), "",
            kSix },
        { "v3_grouped_frame", tag(3, frame(3, "TIT2", "\x81\0Title"s, "\0\x20"s) + sixNoTitle3), "", kSix },
        { "v4_grouped_frame_with_length",
            tag(4, frame(4, "TIT2", "\x81"s + synchsafe(6) + "\0Title"s, "\0\x41"s) + sixNoTitle4), "",
            kSix },
        { "v2_2", tag(2, v22, 20), "", kSix },
        { "v2_2_ucs2_unsynchronised",
            tag(2, unsynchronise(frame22("TT2", ffText) + v22.substr(frame22("TT2", "\0Title"s).size())), 0,
                '\x80'),
            "", ff },
        { "v2_2_bad_and_empty_frames", tag(2, frame22("tt2", "\0x"s) + frame22("TEN", "") + v22), "", kSix },
        { "v2_2_compressed_tag_ignored", tag(2, v22, 0, '\x40'), sixV1,
            Shown { "v1", "Artist", "Album", "2004", "v1", "Rock" } },
    });
}

TEST(PlainTags, Id3v1AndTagsAtTheEnd)
{
    const std::string sixV1 = id3v1("v1", "2004", "v1", 0, 17);
    const std::string v2 = tag(3,
        frame(3, "TIT2", "\0v2 title"s)
            + frame(3, "TRCK",
                "\0"
                "0"s));
    checkCases({
        { "v1_only", "", id3v1("\x93\x8C\x8B\x9E\x82\xCC\x96\xE9", "1999", "comment", 5, 13) },
        { "v1_filled_fields", "", id3v1(std::string(30, 'x'), "20\x82", std::string(30, '\x82'), 0, 255) },
        { "v1_white_space", "", id3v1(" \t\vtitle\r\n ", " 19", "  ", 0, 146) },
        { "v2_fields_first_then_v1", v2, id3v1("v1 title", "2004", "v1 comment", 9, 29) },
        { "ape_footer", "", "APETAGEX" + std::string(24, '\0') },
        { "tag_inside_an_ape_footer", "", "APE" + id3v1("EX rest", "", "", 0, 1) },
        { "ape_before_v1", "", "APETAGEX" + std::string(24, '\0') + id3v1("t", "", "", 0, 1) },
        { "v2_then_ape_then_v1", v2,
            ape({ { "Title", "ape title" }, { "Album", "ape album" } }) + id3v1("t", "", "", 0, 1) },
        { "ape_keys_in_any_case_the_last_wins", "",
            ape({ { "title", "a" }, { "TITLE", "b\0c\0\0d\0"s },
                { "Year",
                    "\0"
                    "1999"s },
                { "Track", " 12x" }, { "Genre", "(13)" }, { "Comment", "\0"s } }) },
        { "ape_binary_items_under_v1", "", ape({ { "Title", "bin" }, { "Year", "2001" } }, 2) + sixV1 },
        { "ape_item_count_past_its_items", "", ape({ { "Title", "t" } }, 0, 9) },
        { "ape_not_utf8", "", ape({ { "Title", "\x93\x8C\x8B\x9E" } }),
            Shown { "東京", "", "", "", "", "" } },
        // An ID3v2 tag TagLib reads its own way, and an APE tag.
        { "unsynchronised_v2_and_ape",
            tag(3, unsynchronise(frame(3, "TIT2", "\x01" + utf16le(u"ÿ"))), 0, '\x80'),
            ape({ { "Title", "ape title" }, { "Album", "ape album" } }),
            Shown { "ÿ", "", "ape album", "", "", "" } },
    });
}

TEST(PlainTags, GenreCodesAsTagLibRewritesThem)
{
    const char* const genres[]
        = { "(RX)", "(13)", "(13)Pop", "(13)Rock", "(CR)Foo", "13", "Rock", "(RX)(13)", "((free)", "( 8)",
              "(13)(17)", "(x)y", "(300)", "(-1)", "()", "(13", "Pop(13)", "12345678901", "(99999999999)" };
    std::vector<Case> cases;
    for (const int v : { 3, 4 }) {
        for (const char* g : genres) {
            cases.push_back({ "genre_v" + std::to_string(v) + "_" + std::to_string(cases.size()),
                tag(v, frame(v, "TCON", std::string(1, '\0') + g)), "" });
        }
    }
    checkCases(cases);
}

namespace {

// ID3v2.4 chapters, each holding the next, `depth` deep around a title: a
// chapter's body is its element ID, start and end times and offsets, then
// the chapter inside. Written outermost first, in one pass.
std::string nestedChapters(int depth)
{
    const std::string inner = frame(4, "TIT2", "\0deep"s);
    const std::string head = "c\0"s + std::string(16, '\0');
    std::vector<std::size_t> bodies; // innermost chapter first
    for (std::size_t size = inner.size(); bodies.size() < static_cast<std::size_t>(depth); size += 10)
        bodies.push_back(size += head.size());
    std::string out;
    for (auto it = bodies.rbegin(); it != bodies.rend(); ++it)
        out += "CHAP" + synchsafe(static_cast<uint32_t>(*it)) + "\0\0"s + head;
    return out + inner;
}

// A zlib stream of "\0bomb" and zeros, 1 GiB in all, in about 1 MB: after a
// full flush each MiB of zeros compresses to the same bytes, so one is
// compressed and repeated. A zero byte leaves Adler-32's A at 1 and adds it
// to B: the check of n zeros is (n mod 65521) << 16 | 1.
std::string zlibBomb()
{
    constexpr uLong kMiB = 1 << 20;
    const std::string first = "\0bomb"s + std::string(kMiB - 5, '\0'), zeros(kMiB, '\0');
    z_stream z {};
    deflateInit(&z, 9);
    std::string out;
    auto put = [&](const std::string& in, int flush) {
        std::string piece(compressBound(in.size()) + 64, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        z.next_out = reinterpret_cast<Bytef*>(piece.data());
        z.avail_out = static_cast<uInt>(piece.size());
        deflate(&z, flush);
        piece.resize(piece.size() - z.avail_out);
        return piece;
    };
    out = put(first, Z_FULL_FLUSH);
    const std::string again = put(zeros, Z_FULL_FLUSH);
    for (int i = 1; i < 1024; ++i)
        out += again;
    std::string end = put("", Z_FINISH);
    deflateEnd(&z);
    const uLong check
        = adler32_combine(adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(first.data()), kMiB),
            (1023 * kMiB) % 65521 << 16 | 1, 1023 * kMiB);
    end.replace(end.size() - 4, 4, be32(static_cast<uint32_t>(check)));
    return out + end;
}

uint64_t procNumber(const char* file, const std::string& key)
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(key))
            return std::stoull(line.substr(key.size()));
    }
    return 0;
}

// The sanitizers' shadow memory would starve under an address-space limit;
// clang tells of them only through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MELODEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MELODEX_SANITIZED 1
#endif
#endif

// What reading a file took, in a child process: whether it came back, and
// the bytes it read (rchar). Outside the sanitizer builds it may take 256 MiB
// more address space than it started with, where TagLib took gigabytes.
struct ChildReading {
    bool done = false;
    int32_t rc = 0;
    char title[128] = {};
    uint64_t bytesRead = 0;
};

ChildReading readInChild(const fs::path& path)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
#ifndef MELODEX_SANITIZED
        const rlim_t limit = procNumber("/proc/self/status", "VmSize:") * 1024 + (256 << 20);
        const rlimit r { limit, limit };
        setrlimit(RLIMIT_AS, &r);
#endif
        ChildReading c;
        const uint64_t before = procNumber("/proc/self/io", "rchar:");
        TrackTag tag;
        StreamInfo info;
        c.rc = vbmp3_getFileInfo(path.c_str(), &tag, &info);
        c.bytesRead = procNumber("/proc/self/io", "rchar:") - before;
        std::memcpy(c.title, tag.TrackName, sizeof c.title);
        c.done = true;
        _exit(write(fds[1], &c, sizeof c) == sizeof c ? 0 : 1);
    }
    close(fds[1]);
    ChildReading c;
    const bool got = read(fds[0], &c, sizeof c) == sizeof c;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    c.done = c.done && got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return c;
}

} // namespace

// Files made to crash a tag reader (chapters nested until the stack runs
// out) or to make it balloon (a zlib bomb, an APE tag of a million items or
// one that claims 4 GiB of a sparse 5 GiB file): each is read to the end,
// reading little more than its audio and the tags it shows.
TEST(PlainTags, BoundsTheWorkOnHostileFiles)
{
    constexpr uint64_t kKiB = 1024;
    const std::string apeTitle = ape({ { "Title", "APE" } });
    std::vector<std::pair<std::string, std::string>> items { { "Title", "APE" } };
    for (int i = 0; i < 1'000'000; ++i)
        items.emplace_back("K" + std::to_string(1'000'000 + i).substr(1), "v"); // each of its own key
    const std::string lyingFooter
        = "APETAGEX" + le32(2000) + le32(0xFFFFFFFF) + le32(1'000'000) + le32(0) + std::string(8, '\0');
    struct Case {
        const char* name;
        std::string head, tail;
        int64_t sparseSize; // the file is made this large with a hole before the tail
        const char* title;
        uint64_t maxRead;
    };
    const Case cases[] = {
        { "chapters_20000_deep", tag(4, nestedChapters(20'000)), apeTitle, 0, "APE", 64 * kKiB },
        // Searched for a frame and then for the tag: read once, never parsed.
        { "chapters_behind_junk", "junkjun" + tag(4, nestedChapters(20'000)), apeTitle, 0, "APE",
            1024 * kKiB },
        { "title_inflating_to_1_gib", tag(3, frame(3, "TIT2", be32((1u << 30) + 5) + zlibBomb(), "\0\x80"s)),
            apeTitle, 0, "bomb", 1088 * kKiB },
        { "ape_of_a_million_items", "", ape(items), 0, "APE", 256 * kKiB },
        { "ape_claiming_4_gib_of_5", tag(3, frame(3, "TIT2", "\0sparse"s)), lyingFooter, int64_t(5) << 30,
            "sparse", 256 * kKiB },
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.write(c.name + ".mp3"s, c.head + audio() + (c.sparseSize ? "" : c.tail));
        if (c.sparseSize) {
            fs::resize_file(path, static_cast<uintmax_t>(c.sparseSize) - c.tail.size());
            std::ofstream(path, std::ios::binary | std::ios::app) << c.tail;
        }
        const ChildReading r = readInChild(path);
        ASSERT_TRUE(r.done);
        EXPECT_EQ(r.rc, 1);
        EXPECT_EQ(TrimNul(r.title), c.title);
        EXPECT_LE(r.bytesRead, c.maxRead + audio().size());
        EXPECT_FALSE(test::tagLibReadsAlike(path.c_str())) << "TagLib must not be asked";
    }
}

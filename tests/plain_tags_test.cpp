// The plain tag reader: on the tag shapes TagLib reads right it answers
// exactly what TagLib answers; on the rest, what the ID3v2 documents mean.
#include "trackinfo/plain_tags.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/vbmp3.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>
#include <zlib.h>

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

Reading readAs(const fs::path& path, trackinfo::TagReading how)
{
    Reading r {};
    r.rc = trackinfo::getFileInfo(path.c_str(), &r.tag, &r.info, how);
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

enum class Taken { ByTagLib, Plain, PlainAsTagLib };

// Who reads the file's tags. Where the plain reader says TagLib reads the
// shape right, both readings are compared byte for byte: the fuzzer relies
// on that.
Taken takenAndCompared(const fs::path& path)
{
    BufferedStream stream(path.c_str());
    const auto plainTags = stream.isOpen() ? trackinfo::readPlainTags(stream) : std::nullopt;
    if (plainTags && !plainTags->tagLibAlike)
        return Taken::Plain;
    const Reading plain = readAs(path, trackinfo::TagReading::Plain);
    const Reading taglib = readAs(path, trackinfo::TagReading::TagLibOnly);
    EXPECT_EQ(plain.rc, taglib.rc) << path;
    EXPECT_EQ(describe(plain), describe(taglib)) << path;
    EXPECT_EQ(std::memcmp(&plain.tag, &taglib.tag, sizeof plain.tag), 0) << path;
    EXPECT_EQ(std::memcmp(&plain.info, &taglib.info, sizeof plain.info), 0) << path;
    return plainTags ? Taken::PlainAsTagLib : Taken::ByTagLib;
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

// An APEv2 tag without a header: items, then the footer.
std::string ape(const std::vector<std::pair<std::string, std::string>>& items)
{
    std::string body;
    for (const auto& [key, value] : items)
        body += le32(value.size()) + le32(0) + key + '\0' + value;
    return body + "APETAGEX" + le32(2000) + le32(body.size() + 32) + le32(items.size()) + le32(0)
        + std::string(8, '\0');
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
        const Taken taken = takenAndCompared(path);
        if (!c.shows) {
            EXPECT_NE(taken, Taken::Plain) << "flagged as a shape TagLib reads differently";
        } else {
            EXPECT_EQ(shownOf(readAs(path, trackinfo::TagReading::Plain)), *c.shows);
        }
    }
}

} // namespace

// Every ID3v2 tag at the start of a file is the plain reader's, and where
// TagLib reads it right the two agree.
TEST(PlainTags, ReadsEveryCorpusTagAndAgreesWithTagLibWhereItIsRight)
{
    int plain = 0, files = 0;
    for (const fs::path& dir : { test::corpusDir(), test::corpusDir() / "thirdparty" }) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            const auto ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".mp3" && ext != ".MP3"))
                continue;
            SCOPED_TRACE(entry.path());
            ++files;
            const Taken taken = takenAndCompared(entry.path());
            plain += taken != Taken::ByTagLib;
            const std::string head = test::readFile(entry.path()).substr(0, 4);
            if (head.size() == 4 && head.starts_with("ID3") && head[3] >= 2 && head[3] <= 4) {
                EXPECT_NE(taken, Taken::ByTagLib);
            }
        }
    }
    EXPECT_GT(files, 30);
    EXPECT_GT(plain * 4, files * 3);
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
        { "first_of_two_titles", tag(3, frame(3, t2, "\0first"s) + frame(3, t2, "\0second"s)) },
        // Writers that leave the byte order mark out wrote little-endian.
        { "utf16_without_bom", tag(3, frame(3, t2, "\x01" + utf16le(u"Betwixt").substr(2))), "",
            title("Betwixt") },
        { "utf16_two_values_one_bom",
            tag(3, frame(3, t2, "\x01" + utf16le(u"a") + std::string(2, '\0') + utf16le(u"b").substr(2))), "",
            title("a b") },
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
        { "unknown_version_left_to_taglib", tag(5, frame(4, "TIT2", "\0x"s)) },
        { "junk_before_audio_left_to_taglib", std::string(700, 'j') },
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
        // TagLib reads the APE tag; the ID3v2 tag stays the plain reader's.
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

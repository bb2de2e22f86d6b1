// The plain tag reader must answer exactly what TagLib answers, or decline.
#include "trackinfo/plain_tags.h"

#include "trackinfo/buffered_stream.h"
#include "trackinfo/vbmp3.h"

#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "test_support.h"

using namespace melodex;
using namespace std::string_literals;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace
{

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

// Both readings of the file, compared byte for byte; true when the plain
// reader took the file itself rather than handing it to TagLib.
bool expectSameReading(const fs::path& path)
{
    const Reading plain = readAs(path, trackinfo::TagReading::Plain);
    const Reading taglib = readAs(path, trackinfo::TagReading::TagLibOnly);
    EXPECT_EQ(plain.rc, taglib.rc) << path;
    EXPECT_EQ(describe(plain), describe(taglib)) << path;
    EXPECT_EQ(std::memcmp(&plain.tag, &taglib.tag, sizeof plain.tag), 0) << path;
    EXPECT_EQ(std::memcmp(&plain.info, &taglib.info, sizeof plain.info), 0) << path;
    BufferedStream stream(path.c_str());
    return stream.isOpen() && trackinfo::readPlainTags(stream).has_value();
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
    bool plain; // the plain reader must take it itself
};

void checkCases(const std::vector<Case>& cases)
{
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.write(c.name + ".mp3", c.head + audio() + c.tail);
        EXPECT_EQ(expectSameReading(path), c.plain);
    }
}

} // namespace

TEST(PlainTags, ReadEveryCorpusFileAsTagLibDoes)
{
    int plain = 0, files = 0;
    for (const fs::path dir : { test::corpusDir(), test::corpusDir() / "thirdparty" }) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            const auto ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".mp3" && ext != ".MP3"))
                continue;
            ++files;
            plain += expectSameReading(entry.path());
        }
    }
    EXPECT_GT(files, 30);
    // Most real files are plain; if this drops, the fast path stopped paying.
    EXPECT_GT(plain * 2, files);
}

TEST(PlainTags, TextEncodingsAndSeveralValues)
{
    const std::string t2 = "TIT2", t1 = "TPE1", al = "TALB";
    checkCases({
        { "latin1_cp932_utf8_v3",
            tag(3,
                frame(3, t2,
                    "\0"
                    "\x93\x8C\x8B\x9E\x82\xCC\x96\xE9"s)
                    + frame(3, t1, "\0Bj\xF6rk"s)
                    + frame(3, al,
                        "\0"
                        "caf\xC3\xA9\0"s)),
            "", true },
        { "utf16_both_orders_v3",
            tag(3,
                frame(3, t2, "\x01" + utf16le(u"桜の花びら")) + frame(3, t1, "\x01" + utf16be(u"Ω ♪"))
                    + frame(3, al, "\x01" + utf16le(u"𝄞 clef") + std::string(2, '\0'))),
            "", true },
        { "utf16be_and_utf8_v4",
            tag(4,
                frame(4, t2, "\x02" + utf16be(u"東京", false))
                    + frame(4, t1,
                        "\x03"
                        "佐藤 一郎\0\0"s)
                    + frame(4, al,
                        "\x03"
                        "\xEF\xBB\xBF"
                        "BOM"s)),
            "", true },
        { "several_values",
            tag(4,
                frame(4, t2,
                    "\x03"
                    "one\0two\0\0three"s)
                    + frame(4, t1, "\0a\0b"s)),
            "", true },
        { "utf16_two_values_left_to_taglib",
            tag(3, frame(3, t2, "\x01" + utf16le(u"a") + std::string(2, '\0') + utf16le(u"b"))), "", false },
        { "utf16_without_bom_left_to_taglib",
            tag(3,
                frame(3, t2,
                    "\x01"
                    "a\0b\0"s)),
            "", false },
        { "lone_surrogate_left_to_taglib",
            tag(3,
                frame(3, t2,
                    "\x01\xFF\xFE\x00\xD8"
                    "a\0"s)),
            "", false },
        { "bad_utf8_left_to_taglib", tag(4, frame(4, t2, "\x03\xC3(x"s)), "", false },
        { "unknown_encoding_left_to_taglib", tag(4, frame(4, t2, "\x07text"s)), "", false },
        { "empty_and_one_byte_frames", tag(3, frame(3, t2, "\0"s) + frame(3, t1, "\x01"s)), "", true },
        { "first_of_two_titles", tag(3, frame(3, t2, "\0first"s) + frame(3, t2, "\0second"s)), "", true },
    });
}

TEST(PlainTags, CommentsGenresYearsAndTracks)
{
    auto comm = [](int v, const std::string& body) { return frame(v, "COMM", body); };
    checkCases({
        { "comment_without_description_wins",
            tag(3, comm(3, "\0engiTunNORM\0 0000 0001"s) + comm(3, "\0eng\0real comment"s)), "", true },
        { "one_described_comment", tag(3, comm(3, "\0engdesc\0text"s)), "", true },
        { "two_described_comments", tag(3, comm(3, "\0enga\0x"s) + comm(3, "\0engb\0y"s)), "", true },
        { "utf16_comment_with_terminator",
            tag(3,
                comm(3,
                    "\x01jpn" + utf16le(u"") + std::string(2, '\0') + utf16le(u"コメント")
                        + std::string(2, '\0'))),
            "", true },
        { "text_after_a_nul_is_not_shown",
            tag(3,
                comm(3,
                    "\x01jpn" + utf16le(u"") + std::string(2, '\0') + utf16le(u"ab") + std::string(2, '\0')
                        + "c\0d\0"s)),
            "", true },
        { "utf8_comment_with_terminator", tag(4, comm(4, "\x03jpn\0高音質\0"s)), "", true },
        { "short_and_undelimited_comments", tag(3, comm(3, "\0en"s) + comm(3, "\0engnodelimiter"s)), "",
            true },
        { "genres_v3", tag(3, frame(3, "TCON", "\0(13)Rock"s) + frame(3, "TIT2", "\0x"s)), "", true },
        { "genre_rx_v3", tag(3, frame(3, "TCON", "\0(RX)"s)), "", true },
        { "genre_rx_v4", tag(4, frame(4, "TCON", "\0(RX)"s)), "", true },
        { "genre_number_and_name_v3", tag(3, frame(3, "TCON", "\0(13)Pop"s)), "", true },
        { "genre_number_and_name_v4", tag(4, frame(4, "TCON", "\0(13)Rock"s)), "", true },
        { "genre_spaced_number", tag(3, frame(3, "TCON", "\0( 8)"s)), "", true },
        { "genre_escaped_paren", tag(3, frame(3, "TCON", "\0((free)"s)), "", true },
        { "genre_list_v4",
            tag(4,
                frame(4, "TCON",
                    "\x03\0"
                    "Jazz\0"
                    "17"s)),
            "", true },
        { "genre_wide_number_left_to_taglib", tag(3, frame(3, "TCON", "\x03(１３)"s)), "", false },
        { "tyer_and_tdrc_v3",
            tag(3,
                frame(3, "TYER", "\0 1999"s)
                    + frame(3, "TDRC",
                        "\x00"
                        "2001"s)),
            "", true },
        { "tdrc_over_tyer_v4",
            tag(4,
                frame(4, "TYER",
                    "\0"
                    "1999"s)
                    + frame(4, "TDRC",
                        "\0"
                        "2001-05-01"s)),
            "", true },
        { "trdc_typo_v4",
            tag(4,
                frame(4, "TRDC",
                    "\0"
                    "1987"s)),
            "", true },
        { "full_width_year", tag(4, frame(4, "TDRC", "\x03２００３年"s)), "", true },
        { "year_beyond_bmp_left_to_taglib", tag(4, frame(4, "TDRC", "\x03𝟚𝟘𝟘𝟛"s)), "", false },
        { "tracks", tag(3, frame(3, "TRCK", "\0 7/12"s)), "", true },
        { "track_overflow",
            tag(3,
                frame(3, "TRCK",
                    "\0"
                    "99999999999"s)),
            "", true },
        { "track_negative", tag(3, frame(3, "TRCK", "\0-1"s)), "", true },
        { "track_text", tag(3, frame(3, "TRCK", "\0x"s)), "", true },
    });
}

TEST(PlainTags, TagShapesAndSizes)
{
    const std::string cover = "\0image/png\0\x03\0"s + std::string(300, '\x89');
    const std::string text = frame(4, "TIT2", "\0"s + std::string(200, 'a'));
    std::string itunes = "TIT2" + be32(201) + "\0\0"s + "\0"s + std::string(200, 'a'); // plain number as size
    checkCases({
        { "cover_first_and_padding",
            tag(3, frame(3, "APIC", cover) + frame(3, "TIT2", "\0after the picture"s), 1024), "", true },
        { "large_v4_frame_followed_by_frame", tag(4, text + frame(4, "TPE1", "\0x"s)), "", true },
        { "large_v4_frame_then_padding", tag(4, text, 64), "", true },
        { "itunes_sizes_left_to_taglib", tag(4, itunes + frame(4, "TPE1", "\0x"s)), "", false },
        { "no_padding_frames_to_the_end", tag(3, frame(3, "TIT2", "\0x"s)), "", true },
        { "junk_in_padding_left_to_taglib", tag(3, frame(3, "TIT2", "\0x"s) + "junk", 16), "", false },
        { "flagged_frame_left_to_taglib", tag(3, frame(3, "TIT2", "\0x"s, "\0\x80"s)), "", false },
        { "unsynchronised_tag_left_to_taglib", tag(3, frame(3, "TIT2", "\0x"s), 0, '\x80'), "", false },
        { "extended_header_left_to_taglib", tag(3, frame(3, "TIT2", "\0x"s), 0, '\x40'), "", false },
        { "id3v2_2_left_to_taglib", tag(2, "TT2\0\0\x02\0x"s), "", false },
        { "zero_size_frame_left_to_taglib", tag(3, frame(3, "TIT2", "") + frame(3, "TPE1", "\0x"s)), "",
            false },
        { "frame_past_tag_end_left_to_taglib", tag(3, "TIT2" + be32(500) + "\0\0\0x"s), "", false },
        { "tag_size_past_file_end_left_to_taglib", "ID3\x03\0\0\x7F\x7F\x7F\x7F"s + frame(3, "TIT2", "\0x"s),
            "", false },
        { "junk_before_audio_left_to_taglib", std::string(700, 'j'), "", false },
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
        { "v1_only", "", id3v1("\x93\x8C\x8B\x9E\x82\xCC\x96\xE9", "1999", "comment", 5, 13), true },
        { "v1_filled_fields", "", id3v1(std::string(30, 'x'), "20\x82", std::string(30, '\x82'), 0, 255),
            true },
        { "v1_white_space", "", id3v1(" \t\vtitle\r\n ", " 19", "  ", 0, 146), true },
        { "v2_fields_first_then_v1", v2, id3v1("v1 title", "2004", "v1 comment", 9, 29), true },
        { "ape_footer_left_to_taglib", "", "APETAGEX" + std::string(24, '\0'), false },
        { "tag_inside_an_ape_footer_left_to_taglib", "", "APE" + id3v1("EX rest", "", "", 0, 1), false },
        { "ape_before_v1_left_to_taglib", "", "APETAGEX" + std::string(24, '\0') + id3v1("t", "", "", 0, 1),
            false },
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
                tag(v, frame(v, "TCON", std::string(1, '\0') + g)), "", true });
        }
    }
    checkCases(cases);
}

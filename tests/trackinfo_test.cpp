#include "trackinfo/vbmp3.h"

#include "common/sjis.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include "test_support.h"

using namespace melodex;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

const nlohmann::json& expectedFiles()
{
    static const nlohmann::json files
        = nlohmann::json::parse(test::readFile(test::corpusDir() / "expected.json")).at("files");
    return files;
}

// What the list shows for a field: up to the NUL, decoded, references resolved.
std::string shown(std::string_view field) { return sjis::decode(TrimNul(field)); }

template <std::size_t N>
std::string shown(const char (&field)[N])
{
    return shown(std::string_view(field, N));
}

struct Result {
    int32_t rc;
    TrackTag tag;
    StreamInfo info;
};

Result read(const fs::path& path)
{
    Result r {};
    r.rc = vbmp3_getFileInfo(path.c_str(), &r.tag, &r.info);
    return r;
}

// A copy of a corpus file whose ID3v2.4 tag the edit fills in (other tags stripped).
fs::path withId3v2(const TempDir& dir, const std::string& name,
    const std::function<void(TagLib::ID3v2::Tag&)>& edit, const char* source = "no_tags.mp3")
{
    const fs::path path = dir.path() / name;
    fs::copy_file(test::corpusDir() / source, path);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    TagLib::MPEG::File file(path.c_str(), false);
    edit(*file.ID3v2Tag(true));
    EXPECT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
    return path;
}

// A frame marked ISO-8859-1 that holds these bytes as they are.
void addLatin1Frame(TagLib::ID3v2::Tag& tag, const char* id, const std::string& bytes)
{
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::Latin1);
    frame->setText(TagLib::String(bytes, TagLib::String::Latin1));
    tag.addFrame(frame);
}

// An ID3v1 block: 30-byte title, artist, album, 4-byte year, 30-byte comment, genre.
std::string id3v1Block(std::string title, std::string artist, std::string comment, unsigned char genre = 255)
{
    auto field = [](std::string s, std::size_t n) {
        s.resize(n, '\0');
        return s;
    };
    return "TAG" + field(title, 30) + field(artist, 30) + field("", 30) + "2003" + field(comment, 30)
        + std::string(1, static_cast<char>(genre));
}

fs::path withAppended(
    const TempDir& dir, const std::string& name, const std::string& tail, const char* source = "no_tags.mp3")
{
    return dir.write(name, test::readFile(test::corpusDir() / source) + tail);
}

} // namespace

TEST(TrimNul, CutsAtTheFirstNulOnly)
{
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        { "plain", "plain" },
        { "trailing spaces  ", "trailing spaces  " },
        { std::string("\0abc", 4), "" },
        { std::string("ab\0cd\0ef", 8), "ab" },
        { std::string("sp \0 x", 6), "sp " },
        { "", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrimNul(c.in), c.out);
    char field[5] = { '2', '0', '0', '3', '4' }; // fills the field: no NUL at all
    EXPECT_EQ(TrimNul(field), "20034");
}

// Every corpus file against expected.json: tags (or an accepted reading),
// exact sampling rate and size, seconds and kbps among the accepted values.
TEST(Vbmp3GetFileInfo, ReadsEveryCorpusFileAsExpected)
{
    // TagLib finds the ID3v2 tag that sits 2047 bytes into this file's
    // leading junk; the corpus was measured with readers that only look at
    // the start of the file.
    const std::map<std::pair<std::string, std::string>, std::string> alsoRight {
        { { "thirdparty/taglib-garbage.mp3", "title" }, "Title A" },
        { { "thirdparty/taglib-garbage.mp3", "artist" }, "Artist A" },
        // Several genres are all shown, joined; the corpus was measured
        // when only the first was.
        { { "vbr_v2_xing_id3v24.mp3", "genre" }, "Rock; Pop" },
    };
    int files = 0;
    for (const auto& [name, e] : expectedFiles().items()) {
        SCOPED_TRACE(name);
        ++files;
        const Result r = read(test::corpusDir() / name);
        EXPECT_EQ(r.rc, e.at("readable").get<bool>() ? 1 : 0);
        EXPECT_EQ(r.info.FileBytes, e.at("file_bytes").get<int64_t>());
        const auto& stream = e.at("stream");
        if (stream.is_null()) {
            EXPECT_EQ(r.info.BitRate, 0);
            EXPECT_EQ(r.info.SamplingRate, 0);
            EXPECT_EQ(r.info.TotalSeconds, 0);
        } else {
            EXPECT_EQ(r.info.SamplingRate, stream.at("sample_rate_hz").get<int>());
            const auto kbps = stream.at("bitrate_kbps_accept").get<std::vector<int>>();
            EXPECT_NE(std::find(kbps.begin(), kbps.end(), r.info.BitRate), kbps.end())
                << "kbps " << r.info.BitRate;
            const auto seconds = stream.at("duration_whole_s_accept").get<std::vector<int>>();
            EXPECT_NE(std::find(seconds.begin(), seconds.end(), r.info.TotalSeconds), seconds.end())
                << "seconds " << r.info.TotalSeconds;
        }
        const std::pair<const char*, std::string> fields[] = {
            { "title", shown(r.tag.TrackName) },
            { "artist", shown(r.tag.ArtistName) },
            { "album", shown(r.tag.AlbumName) },
            { "year", shown(r.tag.Year) },
            { "comment", shown(r.tag.Comment) },
            { "genre", shown(r.tag.GenreName) },
        };
        for (const auto& [field, got] : fields) {
            SCOPED_TRACE(field);
            std::set<std::string> accepted;
            const auto& tags = e.at("tags");
            accepted.insert(tags.is_null() ? "" : tags.at(field).get<std::string>());
            const auto detail
                = e.value("tag_detail", nlohmann::json::object()).value(field, nlohmann::json::object());
            if (detail.is_object()) {
                for (const auto& a : detail.value("accept", nlohmann::json::array()))
                    accepted.insert(a.get<std::string>());
                // A text too long for its field is expected cut at a character boundary.
                for (const char* cut : { "sjis_cut_128", "sjis_cut_5" }) {
                    if (detail.contains(cut))
                        accepted = { detail.at(cut).get<std::string>() };
                }
            }
            if (auto it = alsoRight.find({ name, field }); it != alsoRight.end())
                accepted = { it->second };
            EXPECT_TRUE(accepted.count(got))
                << "got \"" << got << "\", expected \"" << *accepted.begin() << "\"";
        }
    }
    EXPECT_GE(files, 39);
}

TEST(Vbmp3GetFileInfo, StartsEveryCallFromClearedRecords)
{
    TrackTag tag;
    StreamInfo info;
    std::memset(&tag, 'x', sizeof tag);
    std::memset(&info, 0x7F, sizeof info);
    ASSERT_EQ(vbmp3_getFileInfo((test::corpusDir() / "cbr320_48k_joint.mp3").c_str(), &tag, &info), 1);
    ASSERT_EQ(shown(tag.ArtistName), "山田花子");

    ASSERT_EQ(vbmp3_getFileInfo((test::corpusDir() / "no_tags.mp3").c_str(), &tag, &info), 1);
    TrackTag empty {};
    EXPECT_EQ(std::memcmp(tag.TrackName, empty.TrackName, sizeof empty.TrackName), 0);
    for (const auto& text : { shown(tag.ArtistName), shown(tag.AlbumName), shown(tag.Year),
             shown(tag.Comment), shown(tag.GenreName) })
        EXPECT_EQ(text, "");
    EXPECT_EQ(info.BitRate, 192);

    ASSERT_EQ(vbmp3_getFileInfo((test::corpusDir() / "text_file.mp3").c_str(), &tag, &info), 0);
    EXPECT_EQ(std::memcmp(&tag, &empty, sizeof tag), 0);
    EXPECT_EQ(info.BitRate, 0);
    EXPECT_EQ(info.SamplingRate, 0);
    EXPECT_EQ(info.TotalSeconds, 0);
    EXPECT_EQ(info.FileBytes, 285);
    for (unsigned char b : info.Reserved0)
        EXPECT_EQ(b, 0);
}

TEST(Vbmp3GetFileInfo, CutsLongTextAtACharacterBoundary)
{
    const Result r = read(test::corpusDir() / "long_sjis_fields.mp3");
    ASSERT_EQ(r.rc, 1);
    // "A" and 64 kanji need 129 bytes: the 64th kanji would start at byte 127
    // and end past the field, so 127 bytes and a NUL are written.
    std::string title = "A";
    for (int i = 0; i < 63; ++i)
        title += "\x92\xb7"; // 長
    EXPECT_EQ(std::string(r.tag.TrackName, 127), title);
    EXPECT_EQ(r.tag.TrackName[127], '\0');
    // 64 katakana fill all 128 bytes: no NUL, the whole field is the text.
    std::string artist;
    for (int i = 0; i < 64; ++i)
        artist += "\x83\x41"; // ア
    EXPECT_EQ(std::string(r.tag.ArtistName, 128), artist);
    EXPECT_EQ(TrimNul(r.tag.ArtistName).size(), 128u);
}

TEST(Vbmp3GetFileInfo, WritesReferencesForWhatCp932CannotHold)
{
    const Result r = read(test::corpusDir() / "non_sjis_chars.mp3");
    ASSERT_EQ(r.rc, 1);
    EXPECT_EQ(TrimNul(r.tag.TrackName), "Caf&#233; &#8211; &#8486; &#127925;");
    EXPECT_EQ(TrimNul(r.tag.ArtistName), "Dvo&#345;&#225;k &amp; Bj&#246;rk");
    EXPECT_EQ(TrimNul(r.tag.AlbumName), "&#8364;uro &#223; \x81\xf4 \x83\xb6");

    const Result html = read(test::corpusDir() / "html_specials.mp3");
    EXPECT_EQ(TrimNul(html.tag.Comment), "a < b > c &amp; d &amp;amp; &amp;#65;");
}

// The corpus's sjis_cut_128 counts a character CP932 cannot hold as one byte
// (as if it became "?"). Here it becomes a reference, and a reference is
// never cut: a text that would end in half of one ends before it.
TEST(Vbmp3GetFileInfo, NeverCutsAReference)
{
    TempDir dir;
    const std::string a125(125, 'a');
    const auto path = withId3v2(dir, "refs.mp3", [&](TagLib::ID3v2::Tag& t) {
        t.setTitle(TagLib::String(a125 + "é", TagLib::String::UTF8)); // "&#233;" needs bytes 126..131
        t.setArtist(TagLib::String(a125 + "&b", TagLib::String::UTF8)); // "&amp;" needs bytes 126..130
        t.setAlbum(TagLib::String(std::string(122, 'a') + "é", TagLib::String::UTF8)); // ends at byte 128
        t.addFrame([] {
            auto* f = new TagLib::ID3v2::TextIdentificationFrame("TDRC", TagLib::String::UTF8);
            f->setText(TagLib::String("1é99", TagLib::String::UTF8));
            return f;
        }());
    });
    const Result r = read(path);
    ASSERT_EQ(r.rc, 1);
    EXPECT_EQ(TrimNul(r.tag.TrackName), a125);
    EXPECT_EQ(TrimNul(r.tag.ArtistName), a125);
    EXPECT_EQ(TrimNul(r.tag.AlbumName), std::string(122, 'a') + "&#233;");
    EXPECT_EQ(TrimNul(r.tag.Year), ""); // four digits in a row or no year: never a reference
}

TEST(Vbmp3GetFileInfo, DecodesLegacyFramesAndId3v1)
{
    TempDir dir;
    const auto v2 = withId3v2(dir, "latin1.mp3", [](TagLib::ID3v2::Tag& t) {
        addLatin1Frame(t, "TIT2", "\x89\x4a\x82\xcc\x93\xfa"); // CP932
        addLatin1Frame(t, "TPE1", "Bj\xc3\xb6rk"); // UTF-8
        addLatin1Frame(t, "TALB", "Caf\xe9 \x80"); // Windows-1252
        addLatin1Frame(t, "TCON", "(13)");
    });
    Result r = read(v2);
    ASSERT_EQ(r.rc, 1);
    EXPECT_EQ(shown(r.tag.TrackName), "雨の日");
    EXPECT_EQ(shown(r.tag.ArtistName), "Björk");
    EXPECT_EQ(shown(r.tag.AlbumName), "Café €");
    EXPECT_EQ(shown(r.tag.GenreName), "Pop");

    // 14 kanji, "A" and the lead byte of a 15th kanji: 30 bytes, no NUL.
    std::string cut;
    for (int i = 0; i < 14; ++i)
        cut += "\x93\xfa";
    cut += "A\x93";
    const auto v1 = withAppended(dir, "v1.mp3", id3v1Block(cut, "Sigur R\xf3s", "\x89\x4a\x82\xcc", 146));
    r = read(v1);
    ASSERT_EQ(r.rc, 1);
    std::string expected;
    for (int i = 0; i < 14; ++i)
        expected += "日";
    EXPECT_EQ(shown(r.tag.TrackName), expected + "A");
    EXPECT_EQ(shown(r.tag.ArtistName), "Sigur Rós");
    EXPECT_EQ(shown(r.tag.Comment), "雨の");
    EXPECT_EQ(shown(r.tag.Year), "2003");
    EXPECT_EQ(shown(r.tag.GenreName), "JPop");
}

// The same bytes read the same in an ID3v2 frame marked ISO-8859-1 and in
// ID3v1, whichever reader takes the file.
TEST(Vbmp3GetFileInfo, WeighsLegacyTextsAlikeInId3v2AndId3v1)
{
    struct Case {
        std::string bytes, utf8;
    };
    const Case cases[] = {
        { "Janelle Mon\xe1"
          "e",
            "Janelle Monáe" },
        { "C\xe9line Dion", "Céline Dion" },
        { "Joaqu\xedn Sabina", "Joaquín Sabina" },
        { "S\xe3o Paulo", "São Paulo" },
        { "Beyonc\xe9", "Beyoncé" },
        { "Bj\xf6rk", "Björk" },
        { "\xc9"
          "dith Piaf",
            "Édith Piaf" },
        { "Kraftwerk \x96 Trans Europa", "Kraftwerk – Trans Europa" },
        { "\x92\xc5\x96\xbc\x97\xd1\x8c\xe7", "椎名林檎" },
        { "\x89"
          "F\x91\xbd\x93"
          "c\x83q\x83J\x83\x8b",
            "宇多田ヒカル" },
        { "\xea\xa0\x8c\xb4\x8c"
          "h\x94V",
            "槇原敬之" },
        { "\xb1\xc6\xd2\xbf\xdd\xb8\xde", "ｱﾆﾒｿﾝｸﾞ" },
        { "\xfb\xfc\x8b\xb4\x90^\x97\x9c\x8eq", "髙橋真梨子" }, // IBM extension
        { "\xee\xe0\x8b\xb4\x90^\x97\x9c\x8eq", "髙橋真梨子" }, // the same, NEC-selected
        { "\x81\xf4 \x81` \x81\xf4", "♪ ～ ♪" },
        { "Mr.Children \x96\xbc\x82\xe0\x82\xc8\x82\xab\x8e\x8d", "Mr.Children 名もなき詩" },
        { "\xe6\xa4\x8e\xe5\x90\x8d", "椎名" }, // UTF-8 stays UTF-8
        // 30 bytes without a NUL: a Western field that ends in an accented
        // letter is not a cut double-byte character.
        { "Am\xe1lia Rodrigues \xc1guas de Mar\xe7", "Amália Rodrigues Águas de Març" },
    };
    TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        const auto path = withId3v2(dir, "t" + std::to_string(n++) + ".mp3",
            [&](TagLib::ID3v2::Tag& t) { addLatin1Frame(t, "TIT2", c.bytes); });
        std::ofstream(path, std::ios::binary | std::ios::app) << id3v1Block("", c.bytes, "");
        const Result r = read(path);
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(shown(r.tag.TrackName), c.utf8) << "ID3v2";
        EXPECT_EQ(shown(r.tag.ArtistName), c.utf8) << "ID3v1";
    }
}

TEST(Vbmp3GetFileInfo, NamesGenresAndYears)
{
    struct Case {
        std::string tcon, genre;
    };
    const Case cases[] = {
        { "13", "Pop" },
        { "(13)", "Pop" },
        { "(13)Pop", "Pop" },
        { "(RX)", "Remix" },
        { "CR", "Cover" },
        { "255", "" },
        { "200", "" },
        { "Free Text", "Free Text" },
        { "0", "Blues" },
        { "147", "Synthpop" },
        { "146", "JPop" },
        { "29", "Jazz+Funk" },
    };
    TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        const auto path = withId3v2(dir, "g" + std::to_string(n++) + ".mp3", [&](TagLib::ID3v2::Tag& t) {
            addLatin1Frame(t, "TCON", c.tcon);
            addLatin1Frame(t, "TDRC", "2003-05-01");
        });
        const Result r = read(path);
        EXPECT_EQ(shown(r.tag.GenreName), c.genre) << c.tcon;
        EXPECT_EQ(shown(r.tag.Year), "2003");
    }
}

TEST(Vbmp3GetFileInfo, TreatsDamagedInputAsUnreadable)
{
    TempDir dir;
    const std::string mp3 = test::readFile(test::corpusDir() / "no_tags.mp3");
    std::string id3OnlyHeader = "ID3\x03\x00\x00\x00\x00\x02\x00"; // a 256-byte tag and nothing else
    id3OnlyHeader.resize(10 + 256, '\0');
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        { "tag_only.mp3", id3OnlyHeader },
        { "one_header.mp3", std::string("\xff\xfb\x90\x64", 4) },
        { "two_bytes.mp3", "\xff\xfb" },
        { "zeros.mp3", std::string(100000, '\0') },
        { "ff.mp3", std::string(100000, '\xff') },
    };
    for (const auto& c : cases) {
        const Result r = read(dir.write(c.name, c.bytes));
        EXPECT_EQ(r.rc, 0) << c.name;
        EXPECT_EQ(r.info.FileBytes, static_cast<int32_t>(c.bytes.size())) << c.name;
        EXPECT_EQ(r.info.TotalSeconds, 0) << c.name;
        EXPECT_EQ(shown(r.tag.TrackName), "") << c.name;
    }

    // Neither a missing file, a folder nor a FIFO is read (the FIFO would
    // block forever waiting for a writer).
    const fs::path fifo = dir.path() / "fifo.mp3";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& p : { dir.path() / "missing.mp3", dir.path(), fifo }) {
        const Result r = read(p);
        EXPECT_EQ(r.rc, 0) << p;
        EXPECT_EQ(r.info.FileBytes, 0) << p;
    }
    TrackTag tag;
    StreamInfo info;
    EXPECT_EQ(vbmp3_getFileInfo(nullptr, &tag, &info), 0);
    EXPECT_EQ(vbmp3_getFileInfo((test::corpusDir() / "no_tags.mp3").c_str(), nullptr, &info), 0);
    EXPECT_EQ(info.FileBytes, 0);
}

namespace {

std::string be32(uint32_t n)
{
    return { char(n >> 24), char(n >> 16 & 0xFF), char(n >> 8 & 0xFF), char(n & 0xFF) };
}

// An ID3v2.3 tag whose header declares `declared` bytes after it.
std::string id3v23(const std::string& frames, uint32_t declared)
{
    const std::string size = { char(declared >> 21 & 0x7F), char(declared >> 14 & 0x7F),
        char(declared >> 7 & 0x7F), char(declared & 0x7F) };
    return std::string("ID3\x03\x00\x00", 6) + size + frames;
}

std::string frame23(const std::string& id, const std::string& body)
{
    return id + be32(uint32_t(body.size())) + std::string(2, '\0') + body;
}

// Silent MPEG-1 Layer III frames of 128 kbps at 44.1 kHz (or 48 kHz), 417 bytes (384) each.
std::string frames(int count, bool khz48 = false)
{
    std::string f(khz48 ? 384 : 417, '\0');
    f[0] = '\xFF';
    f[1] = '\xFB';
    f[2] = khz48 ? '\x94' : '\x90';
    f[3] = '\x64';
    std::string out;
    for (int i = 0; i < count; ++i)
        out += f;
    return out;
}

} // namespace

// A file without whole audio: what its tag holds is shown, its stream values
// stay zero; one whole frame is audio; a cover cut with the file is not.
TEST(Vbmp3GetFileInfo, ReadsWhatCutFilesHold)
{
    TempDir dir;
    const std::string title = frame23("TIT2", std::string("\0Cut", 4));
    const std::string cover
        = frame23("APIC", std::string("\0image/jpeg\0\x03\0", 14) + frames(20)).substr(0, 2000);
    struct Case {
        const char* name;
        std::string bytes;
        int32_t rc;
        const char* title;
        int32_t kbps; // 128 at 44.1 kHz when read
    };
    const Case cases[] = {
        { "whole_tag_no_audio", id3v23(title, uint32_t(title.size())), 0, "Cut", 0 },
        { "cut_in_padding", id3v23(title + std::string(100, '\0'), 4096), 0, "Cut", 0 },
        { "cut_in_a_cover_of_frames", id3v23(title + cover, 100000), 0, "Cut", 0 },
        { "size_lies_audio_follows_frames", id3v23(title, 0x0FFFFFFF) + frames(10), 1, "Cut", 128 },
        { "id3v1_alone", "TAG" + std::string("v1 title") + std::string(117, '\0'), 0, "v1 title", 0 },
        { "one_frame_and_part_of_a_second", frames(2).substr(0, 417 + 100), 1, "", 128 },
        { "one_frame_exactly", frames(1), 1, "", 128 },
        { "tag_one_frame_and_two_bytes", id3v23(title, uint32_t(title.size())) + frames(2).substr(0, 419), 1,
            "Cut", 128 },
        { "one_frame_then_id3v1", frames(1) + "TAG" + std::string(125, '\0'), 1, "", 128 },
        { "half_a_frame", frames(1).substr(0, 200), 0, "", 0 },
        { "one_frame_then_another_stream", frames(1) + frames(2, true).substr(0, 500), 0, "", 0 },
        { "one_frame_then_junk", frames(1) + std::string(100, 'j'), 0, "", 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = read(dir.write(std::string(c.name) + ".mp3", c.bytes));
        EXPECT_EQ(r.rc, c.rc);
        EXPECT_EQ(shown(r.tag.TrackName), c.title);
        EXPECT_EQ(r.info.BitRate, c.kbps);
        EXPECT_EQ(r.info.SamplingRate, c.kbps ? 44100 : 0);
        EXPECT_EQ(r.info.TotalSeconds, 0);
        EXPECT_EQ(r.info.FileBytes, static_cast<int32_t>(c.bytes.size()));
    }
}

// The size field holds 2^31 - 1 at most; a larger file must not read as a
// negative or wrapped size.
TEST(Vbmp3GetFileInfo, ClampsTheSizeOfHugeFiles)
{
    TempDir dir;
    const fs::path path = dir.write("huge.mp3");
    fs::resize_file(path, (int64_t(3) << 30) + 5); // sparse: takes no space
    const auto start = std::chrono::steady_clock::now();
    const Result r = read(path);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.info.FileBytes, INT32_MAX);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)); // not read to its end
}

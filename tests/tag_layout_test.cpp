#include "trackinfo/tag_layout.h"

#include "trackinfo/buffered_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using namespace melodex;
using namespace std::string_literals;

namespace {

std::string le32(uint32_t n) { return { char(n), char(n >> 8), char(n >> 16), char(n >> 24) }; }

// An APE footer (or header) for a tag of `tagBytes` (items and footer).
std::string apeFooter(uint32_t tagBytes, uint32_t items, uint32_t flags = 0)
{
    return "APETAGEX" + le32(2000) + le32(tagBytes) + le32(items) + le32(flags) + std::string(8, '\0');
}

} // namespace

// Where the tags at the end of a file are, and so where its audio ends.
TEST(FindTailTags, FindsId3v1AndApeAtTheEnd)
{
    const std::string audio(300, 'a');
    const std::string v1 = "TAG" + std::string(125, 'x');
    const std::string item = le32(4) + le32(0) + "Title"s + '\0' + "ape!"; // 18 bytes
    struct Case {
        const char* name;
        std::string bytes;
        int64_t id3v1, apeFooter; // -1: none
        bool apeFits;
        int64_t tagsStart;
    };
    const Case cases[] = {
        { "id3v1_alone", audio + v1, 300, -1, false, 300 },
        { "ape_alone", audio + item + apeFooter(50, 1), -1, 318, true, 300 },
        { "ape_with_header_then_id3v1",
            audio + apeFooter(50, 1, 0xA0000000) + item + apeFooter(50, 1, 0x80000000) + v1, 382, 350, true,
            300 },
        // "APETAGEX" 131 bytes before the end: its "TAG" is no ID3v1 block.
        { "tag_inside_an_ape_footer", audio + item + apeFooter(50, 1) + std::string(99, 'z'), -1, -1, false,
            449 },
        { "ape_claiming_more_than_the_file", audio + apeFooter(5000, 1), -1, 300, false, 332 },
        { "shorter_than_128_with_tag", "TAG" + std::string(50, 'x'), -1, -1, false, 53 },
        { "shorter_than_128_with_ape", "junk" + apeFooter(32, 0), -1, 4, true, 4 },
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferedStream stream(dir.write(c.name, c.bytes).c_str());
        const trackinfo::TailTags tail = trackinfo::findTailTags(stream);
        EXPECT_EQ(tail.id3v1, c.id3v1);
        EXPECT_EQ(tail.ape ? tail.ape->footer : -1, c.apeFooter);
        EXPECT_EQ(tail.ape && tail.ape->fits(), c.apeFits);
        EXPECT_EQ(tail.start(stream.size()), c.tagsStart);
    }
}

// One rule for an ID3v2 header; which versions can be read is a second one.
TEST(ParseId3v2Header, AcceptsAnyVersionButReadsTwoToFour)
{
    struct Case {
        std::string bytes;
        bool header, readable;
        int64_t extent;
    };
    const Case cases[] = {
        { "ID3\x04\0\0\0\0\x02\x01"s, true, true, 10 + 257 },
        { "ID3\x04\0\x10\0\0\0\x10"s, true, true, 10 + 16 + 10 }, // with a footer
        { "ID3\x02\0\0\0\0\0\0"s, true, true, 10 },
        { "ID3\x05\0\0\0\0\0\x10"s, true, false, 26 },
        { "ID3\xFF\0\0\0\0\0\x10"s, false, false, 0 },
        { "ID3\x03\xFF\0\0\0\0\x10"s, false, false, 0 },
        { "ID3\x03\0\0\0\0\x80\0"s, false, false, 0 }, // size not synchsafe
        { "ID2\x03\0\0\0\0\0\0"s, false, false, 0 },
    };
    for (const Case& c : cases) {
        const auto h = trackinfo::parseId3v2Header(reinterpret_cast<const unsigned char*>(c.bytes.data()));
        ASSERT_EQ(h.has_value(), c.header) << testing::PrintToString(c.bytes);
        if (h) {
            EXPECT_EQ(h->readable(), c.readable);
            EXPECT_EQ(h->extent(), c.extent);
        }
    }
}

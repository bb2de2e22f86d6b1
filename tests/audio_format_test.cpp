#include "common/audio_format.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace melodex;

TEST(FormatSet, ListsWhatItNamesAndReadsBackItsText)
{
    struct Row {
        const char* text;
        const char* canonical; // "" when the text is refused
        std::vector<std::string> listed;
    };
    const std::vector<std::string> names { "a.mp3", "b.FLAC", "c.m4a", "d.m4b", "e.mp4", "f.ogg", "g.oga",
        "h.opus", "i.wav", "j.aif", "k.AIFF", "l.txt", "m4a", ".flac" };
    const Row rows[] = {
        { "mp3", "mp3", { "a.mp3" } },
        { "all", "all",
            { "a.mp3", "b.FLAC", "c.m4a", "d.m4b", "f.ogg", "g.oga", "h.opus", "i.wav", "j.aif", "k.AIFF" } },
        { "ALL, mp4", "all,mp4",
            { "a.mp3", "b.FLAC", "c.m4a", "d.m4b", "e.mp4", "f.ogg", "g.oga", "h.opus", "i.wav", "j.aif",
                "k.AIFF" } },
        { "mp4", "mp4", { "c.m4a", "d.m4b", "e.mp4" } },
        { ".m4a", "m4a", { "c.m4a", "d.m4b" } },
        { "flac,.opus, aif", "flac,opus,aiff", { "b.FLAC", "h.opus", "j.aif", "k.AIFF" } },
        { "vorbis,wav", "vorbis,wav", { "f.ogg", "g.oga", "i.wav" } },
        { "", "", {} },
        { "mp3,", "", {} },
        { "wma", "", {} },
    };
    for (const Row& row : rows) {
        const std::optional<FormatSet> set = FormatSet::parse(row.text);
        ASSERT_EQ(set.has_value(), *row.canonical != '\0') << row.text;
        if (!set)
            continue;
        EXPECT_EQ(set->text(), row.canonical);
        EXPECT_EQ(FormatSet::parse(set->text()), set) << row.text;
        std::vector<std::string> listed;
        for (const std::string& name : names)
            if (set->lists(name))
                listed.push_back(name);
        EXPECT_EQ(listed, row.listed) << row.text;
    }
    std::string bad;
    EXPECT_FALSE(FormatSet::parse("flac,wma", &bad));
    EXPECT_EQ(bad, "wma");
}

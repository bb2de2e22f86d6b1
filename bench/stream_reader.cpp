// The stream alone: each file opened through BufferedStream and its MPEG
// stream analysed, without any tag reading, one line per file. Times what
// the track reader spends outside the tags.
//
//     stream_reader FOLDER > /dev/null

#include <cstdio>
#include <string>

#include "common/folder_listing.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/mpeg_stream.h"
#include "trackinfo/tag_layout.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const char* folder = argv[1];
    const melodex::FolderListing listing = melodex::listMp3Files(folder);
    if (!listing.ok) {
        std::fprintf(stderr, "%s\n", listing.error.c_str());
        return 1;
    }
    for (const std::string& name : listing.names) {
        const std::string path = melodex::joinPath(folder, name);
        melodex::BufferedStream stream(path.c_str());
        melodex::trackinfo::TagLayout layout(stream);
        const auto s = melodex::trackinfo::analyzeStream(stream, layout);
        std::printf("%s\t%ld\t%d\t%d\t%lld\n", name.c_str(), stream.size(), s.bitrateKbps, s.sampleRate,
            static_cast<long long>(s.totalSeconds));
    }
    std::fprintf(stderr, "%zu files\n", listing.names.size());
    return 0;
}

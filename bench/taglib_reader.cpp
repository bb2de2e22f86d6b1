// A plain TagLib reader, the yardstick: FileRef with its default stream, the
// merged tag and the audio properties, one line per file.
//
//     taglib_reader FOLDER > /dev/null

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cstdio>
#include <string>

#include "common/folder_listing.h"

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
        const TagLib::FileRef ref(path.c_str());
        std::string line = name;
        if (const TagLib::Tag* tag = ref.tag()) {
            for (const TagLib::String& s : { tag->title(), tag->artist(), tag->album() })
                line += '\t' + s.to8Bit(true);
            line += '\t' + std::to_string(tag->year());
            line += '\t' + tag->comment().to8Bit(true);
            line += '\t' + tag->genre().to8Bit(true);
        }
        if (const TagLib::AudioProperties* p = ref.audioProperties()) {
            line += '\t' + std::to_string(p->bitrate()) + '\t' + std::to_string(p->sampleRate()) + '\t'
                + std::to_string(p->lengthInSeconds());
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fprintf(stderr, "%zu files\n", listing.names.size());
    return 0;
}

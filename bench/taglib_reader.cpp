// A plain TagLib reader, the yardstick: FileRef with its default stream, the
// merged tag and the audio properties, one line per file. With --buffered it
// reads through our BufferedStream instead, to time the stream alone.
//
//     taglib_reader [--buffered] FOLDER > /dev/null

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/folder_listing.h"
#include "trackinfo/buffered_stream.h"

int main(int argc, char** argv)
{
    const bool buffered = argc == 3 && std::string(argv[1]) == "--buffered";
    if (argc != 2 && !buffered) {
        std::fprintf(stderr, "usage: %s [--buffered] FOLDER\n", argv[0]);
        return 2;
    }
    const char* folder = argv[argc - 1];
    const melodex::FolderListing listing = melodex::listMp3Files(folder);
    if (!listing.ok) {
        std::fprintf(stderr, "%s\n", listing.error.c_str());
        return 1;
    }
    for (const std::string& name : listing.names) {
        const std::string path = melodex::joinPath(folder, name);
        std::unique_ptr<melodex::BufferedStream> stream;
        TagLib::FileRef ref;
        if (buffered) {
            stream = std::make_unique<melodex::BufferedStream>(path.c_str());
            ref = TagLib::FileRef(
                new TagLib::MPEG::File(stream.get(), TagLib::ID3v2::FrameFactory::instance()));
        } else {
            ref = TagLib::FileRef(path.c_str());
        }
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

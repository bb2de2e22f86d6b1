// The track reader over a folder of any format, one line per file as
// `melodex-cli info` prints it (texts unescaped), without the CLI's
// read-ahead: what reading a format costs where the command line cannot yet
// list it, and a second figure beside the command line's where it can.
//
//     details_reader FOLDER [FORMATS] > /dev/null      FORMATS as --formats takes it; default mp3

#include <cstdio>
#include <string>

#include "common/audio_format.h"
#include "common/folder_listing.h"
#include "trackinfo/track_details.h"

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER [FORMATS]\n", argv[0]);
        return 2;
    }
    const char* folder = argv[1];
    const auto formats = melodex::FormatSet::parse(argc == 3 ? argv[2] : "mp3");
    if (!formats) {
        std::fprintf(stderr, "unknown formats: %s\n", argv[2]);
        return 2;
    }
    const melodex::FolderListing listing = melodex::listAudioFiles(folder, *formats);
    if (!listing.ok) {
        std::fprintf(stderr, "%s\n", listing.error.c_str());
        return 1;
    }
    for (const std::string& name : listing.names) {
        const std::string path = melodex::joinPath(folder, name);
        const auto d = melodex::trackinfo::readTrackDetails(path.c_str());
        const auto& t = d.texts;
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%d\t%d\t%lld\t%lld\t%s\n", name.c_str(), t.title.c_str(),
            t.artist.c_str(), t.album.c_str(), t.year.c_str(), t.comment.c_str(), t.genre.c_str(),
            d.bitrateKbps, d.sampleRate, static_cast<long long>(d.fileBytes),
            static_cast<long long>(d.seconds), d.readable ? "ok" : "unreadable");
    }
    std::fprintf(stderr, "%zu files\n", listing.names.size());
    return 0;
}

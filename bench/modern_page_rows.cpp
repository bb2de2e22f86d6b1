// Writes a modern page of N made-up rows into FOLDER, for timing the page in
// a browser (bench/modern-page.py): no audio files are read.
//
//   modern_page_rows FOLDER [ROWS] [--group]

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "listgen/list_document.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: modern_page_rows FOLDER [ROWS] [--group]\n");
        return 2;
    }
    const int rows = argc > 2 ? std::atoi(argv[2]) : 10000;
    melodex::OptionSet options;
    options.style = melodex::PageStyle::Modern;
    options.title = "10,000 行のカタログ";
    options.outFile = "modern.html";
    options.columns = { 0, 12, 1, 2, 3, 4, 6, 7, 8, 9, 10 };
    if (argc > 3 && std::string(argv[3]) == "--group")
        options.grouping = melodex::PageGrouping::Album;
    std::vector<std::string> names;
    for (int i = 0; i < rows; ++i)
        names.push_back("track " + std::to_string(i + 1) + ".mp3");
    // Varied enough that sorting has work to do: times, sizes and texts do
    // not follow the names' order.
    const auto details = [](const std::string& path) {
        const unsigned n = static_cast<unsigned>(std::atoi(path.c_str() + path.rfind(' ') + 1));
        const unsigned h = n * 2654435761u;
        melodex::trackinfo::TrackDetails d;
        d.readable = true;
        d.texts.title = "曲 " + std::to_string(h % 9973) + " タイトル Title";
        d.texts.artist = "アーティスト " + std::to_string(h % 97);
        d.texts.album = "アルバム " + std::to_string(n / 12);
        d.texts.year = std::to_string(1980 + h % 40);
        d.texts.genre = (h & 1) != 0 ? "J-Pop" : "Rock";
        d.texts.track = n % 12 + 1;
        d.fileBytes = 2000000 + h % 8000000;
        d.seconds = 120 + h % 300;
        d.bitrateKbps = 128 + 64 * static_cast<int>(h % 4);
        d.sampleRate = 44100;
        return d;
    };
    TrackTag tag {};
    StreamInfo info {};
    const melodex::ListResult r = melodex::writeListDocument(
        options, argv[1], names, tag, info, melodex::readTrackWithVbmp3, {}, details);
    if (!r.ok()) {
        std::fprintf(stderr, "%s\n", r.reason.c_str());
        return 1;
    }
    std::printf("%s\n", r.path.c_str());
    return 0;
}

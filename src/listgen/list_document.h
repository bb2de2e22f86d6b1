#pragma once
// The List document: one HTML page (CP932, CR LF) with a row per MP3 file, a
// totals table and a footer, written into the listed folder. The window and
// the command line both write it through writeListDocument, so the same
// Option set gives the same bytes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/option_set.h"
#include "trackinfo/track_details.h"
#include "trackinfo/vbmp3.h"

namespace melodex {

// Fills both records from the file at path; 1 when it is readable audio,
// 0 otherwise. vbmp3_getFileInfo is the real one; tests pass fakes.
using TrackReader = std::function<int32_t(const std::string& path, TrackTag& tag, StreamInfo& info)>;

// Called before file `done` (0-based) of `total` is read, and once with
// done == total at the end. Returning false cancels the run.
using ListProgress = std::function<bool(int done, int total)>;

int32_t readTrackWithVbmp3(const std::string& path, TrackTag& tag, StreamInfo& info);

// The whole details of the file at path, for pages not bound to the record's
// widths. readTrackDetails is the real one; tests pass fakes.
using DetailsReader = std::function<trackinfo::TrackDetails(const std::string& path)>;

trackinfo::TrackDetails readDetailsOf(const std::string& path);

struct ListResult {
    enum class Status { Success, Failed, Cancelled };
    Status status = Status::Failed;
    std::string reason; // for Failed: what went wrong and where, for the user to act on
    std::string path; // the document's path

    bool ok() const { return status == Status::Success; }
};

// The document's path: the folder ("" for the root), "/" and the output file
// name with its leading and trailing spaces removed.
std::string listDocumentPath(const std::string& folder, const std::string& outFile);

// Why the output file name cannot be used, or nothing when it can. It must be
// a plain name inside the listed folder (after its spaces are trimmed): not
// empty, "." or "..", no "/" or "\", no control character, and not ending
// in the extension of a listed format (".mp3" by default) in any case, or the
// list would replace a track or be listed as one.
// Trailing dots count as FAT drops them: "a.mp3." ends in ".mp3", "..." is empty.
// The window, --output and a preset's OutFile all go through it.
std::optional<std::string> checkOutputName(
    std::string_view outFile, const FormatSet& formats = FormatSet::mp3Only());

enum class HtmlText {
    Plain, // UTF-8 typed by the user or taken from the file system
    TagField, // CP932 from a tag record: every "&" there already begins a reference
    UnquotedAttribute, // plain UTF-8 that stands in an attribute value without quotes
    Cp932Name, // a file name whose bytes are CP932
};

// "&", "<", ">" and '"' as references, so that text from files and users is
// never read as markup, in content and in quoted attribute values alike; in
// an unquoted value the space too, or it would end the value and start a new
// attribute. Control characters (U+0000 to U+001F, U+007F) become references
// to their pictures (U+2400 to U+241F, U+2421): no raw control byte ever
// reaches the page. C1 controls and bidirectional overrides
// (isDisplayControl) become U+FFFD: UTF-8 text holds them as themselves,
// tag fields as the references the codec wrote for them, and CP932 holds
// none. Neither UTF-8 nor CP932 has the other bytes looked at inside a
// character.
std::string escapeHtml(std::string_view text, HtmlText kind = HtmlText::Plain);

// Writes the document for the listed files of `folder` (names as the file
// system holds them), in the Option set's style: the classic page reads
// each file into the records, which are the caller's and are reused for
// every file; the modern page takes the whole details from `details`. The page goes into a temporary file
// beside the output and replaces it only when complete: a failed or cancelled run leaves the previous
// document as it was.
ListResult writeListDocument(const OptionSet& options, const std::string& folder,
    const std::vector<std::string>& fileNames, TrackTag& tag, StreamInfo& info,
    const TrackReader& reader = readTrackWithVbmp3, const ListProgress& progress = {},
    const DetailsReader& details = readDetailsOf);

} // namespace melodex

#include "trackinfo/format_readers.h"

#include "trackinfo/track_details.h"

namespace melodex::trackinfo {

void readFlacFile(BufferedStream&, TagLayout&, TrackDetails& details) { details.problem = "not read yet"; }

} // namespace melodex::trackinfo

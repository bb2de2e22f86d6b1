#pragma once
// The files a run writes beside the List document (the playlist, the index
// page) are replaced the way the document is: whole or not at all, and never
// in place of a track a link leads to.

#include <optional>
#include <string>
#include <string_view>

#include "common/audio_format.h"

namespace melodex {

// Writes `bytes` to `path` through a temporary that replaces it only when
// complete. `signature` begins every file of this kind: a temporary left by a
// killed run that begins so is ours to remove. The reason, naming the path,
// when it could not be written; nothing when it was.
std::optional<std::string> replaceExportFile(
    const std::string& path, std::string_view bytes, std::string_view signature, const FormatSet& formats);

// "%XX" for every byte but the unreserved ones of RFC 3986 and "/", so that a
// relative link finds the name's bytes whatever their encoding.
std::string percentEncodedPath(std::string_view bytes);

} // namespace melodex

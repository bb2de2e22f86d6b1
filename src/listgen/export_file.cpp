#include "listgen/export_file.h"

#include "common/atomic_file.h"
#include "common/folder_listing.h"

namespace melodex {

std::optional<std::string> replaceExportFile(
    const std::string& path, std::string_view bytes, std::string_view signature, const FormatSet& formats)
{
    AtomicFile::Options options;
    options.staleSignature = std::string(signature);
    AtomicFile file(path, options);
    if (!file.open())
        return file.error();
    // The name was checked, but a link of that name may lead elsewhere.
    if (hasMp3Extension(file.finalName()) || formats.lists(file.finalName()))
        return path + ": the link leads to an audio file, which this file would replace";
    if (!file.write(bytes) || !file.commit())
        return file.error();
    return std::nullopt;
}

std::string percentEncodedPath(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')
            || b == '-' || b == '.' || b == '_' || b == '~' || b == '/';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

} // namespace melodex

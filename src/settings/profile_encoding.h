#pragma once
// How the INI file's bytes hold its text. The profile functions work on
// CP932, as the Windows program's files are; a file an editor saved
// otherwise is read as what it is and written back the same way, so that a
// save changes only its own lines.

#include <string>
#include <string_view>

namespace melodex::profile {

enum class FileEncoding {
    Cp932,
    Cp932AfterUtf8Bom, // "UTF-8 with BOM": the three bytes are kept, the rest is read as CP932
    Utf16Le, // Notepad's "Unicode", BOM FF FE
    Utf16Be, // BOM FE FF
};

struct ProfileBytes {
    FileEncoding encoding = FileEncoding::Cp932;
    std::string text; // CP932, without the BOM
};

// A UTF-16 file's characters that CP932 lacks become references
// (sjis::encodeMarked), so its values read as those of a CP932 file, and
// its own references stay apart from them: every line comes back exactly.
// A value saved into it is written as into a CP932 file ("&#8722;").
ProfileBytes decodeProfile(std::string bytes);

// text (CP932) as the file holds it: the inverse of decodeProfile.
std::string encodeProfile(std::string_view text, FileEncoding encoding);

} // namespace melodex::profile

#include "common/sjis.h"

#include <string>

#include <unicode/ustring.h>
#include <unicode/utf8.h>

namespace melodex::sjis {

std::string utf16ToUtf8(std::u16string_view utf16)
{
    std::string out(utf16.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
        reinterpret_cast<const UChar*>(utf16.data()), static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr,
        &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::string utf16BigEndianToUtf8(std::string_view bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1]);
    return utf16ToUtf8(units);
}

std::size_t utf8SequenceLength(std::string_view s, std::size_t i)
{
    if (i >= s.size())
        return 0;
    auto j = static_cast<int32_t>(i);
    const auto length = static_cast<int32_t>(s.size());
    UChar32 c = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), j, length, c);
    return c < 0 ? 0 : static_cast<std::size_t>(j) - i;
}

bool isUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8SequenceLength(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

} // namespace melodex::sjis

#include "trackinfo/mp4_boxes.h"

#include "trackinfo/byte_order.h"

namespace melodex::trackinfo::mp4 {

BoxWalk::BoxWalk(BufferedStream& stream, int64_t begin, int64_t end, uint32_t cap)
    : stream_(stream)
    , pos_(begin)
    , end_(std::min<int64_t>(end, stream.size()))
    , left_(cap)
{
}

BoxWalk::BoxWalk(BufferedStream& stream, const Box& parent, int64_t skip, uint32_t cap)
    : BoxWalk(stream, parent.body + skip, parent.end, cap)
{
}

std::optional<Box> BoxWalk::next()
{
    if (left_ == 0 || end_ - pos_ < 8)
        return std::nullopt;
    unsigned char header[16];
    const std::size_t got = stream_.readAt(static_cast<long>(pos_), reinterpret_cast<char*>(header), 16);
    const bool large = got >= 8 && bigEndian32(header) == 1;
    if (got < (large ? 16u : 8u))
        return std::nullopt;
    const uint64_t stated = large ? bigEndian64(header + 8) : bigEndian32(header);
    const int64_t headerBytes = large ? 16 : 8;
    Box box { bigEndian32(header + 4), pos_ + headerBytes, end_ };
    if (stated != 0) {
        if (stated < static_cast<uint64_t>(headerBytes)) {
            left_ = 0;
            return std::nullopt;
        }
        if (stated <= static_cast<uint64_t>(end_ - pos_))
            box.end = pos_ + static_cast<int64_t>(stated);
        else
            box.cut = true;
    }
    pos_ = box.end;
    --left_;
    return box;
}

std::optional<Box> BoxWalk::find(uint32_t type)
{
    while (auto box = next()) {
        if (box->type == type)
            return box;
    }
    return std::nullopt;
}

bool readFields(BufferedStream& stream, const Box& box, int64_t at, unsigned char* out, std::size_t n)
{
    if (at < 0 || box.bodyBytes() - at < static_cast<int64_t>(n))
        return false;
    return stream.readAt(static_cast<long>(box.body + at), reinterpret_cast<char*>(out), n) == n;
}

} // namespace melodex::trackinfo::mp4

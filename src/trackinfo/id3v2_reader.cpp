#include "trackinfo/id3v2_reader.h"

#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <zlib.h>

namespace melodex::trackinfo {
namespace {

// Unsynchronised bytes are undone in pieces of this size.
constexpr long kChunkBytes = 64L * 1024;

// Unsynchronisation leaves no 0xFF before a byte of 0xE0 or more, nor at the
// end. Some taggers set the flag on data they never unsynchronised; where the
// bytes show it, they are taken as they are.
bool canBeUnsynchronised(std::string_view s, unsigned char& last)
{
    if (s.empty())
        return true;
    if (last == 0xFF && static_cast<unsigned char>(s[0]) >= 0xE0)
        return false;
    for (std::size_t i = s.find('\xFF'); i != std::string_view::npos && i + 1 < s.size();
         i = s.find('\xFF', i + 1)) {
        if (static_cast<unsigned char>(s[i + 1]) >= 0xE0)
            return false;
    }
    last = static_cast<unsigned char>(s.back());
    return true;
}

bool canBeUnsynchronised(BufferedStream& stream, long begin, long end)
{
    unsigned char last = 0;
    for (long pos = begin; pos < end;) {
        const auto v = stream.view(pos, 1, static_cast<std::size_t>(std::min(end - pos, kChunkBytes)));
        if (v.empty())
            break;
        if (!canBeUnsynchronised({ reinterpret_cast<const char*>(v.data()), v.size() }, last))
            return false;
        pos += static_cast<long>(v.size());
    }
    return last != 0xFF;
}

// Drops the 0x00 that unsynchronisation put after each 0xFF.
void resynchronise(std::string& s)
{
    unsigned char last = 0;
    if (!canBeUnsynchronised(s, last) || last == 0xFF)
        return;
    std::size_t w = 0;
    bool afterFF = false;
    for (const char c : s) {
        if (afterFF && c == '\0') {
            afterFF = false;
            continue;
        }
        s[w++] = c;
        afterFF = static_cast<unsigned char>(c) == 0xFF;
    }
    s.resize(w);
}

// A zlib stream to its end, or up to kMaxTagValueBytes. False when the data is
// broken or ends before the stream does.
bool inflateAll(std::string_view in, std::string& out)
{
    z_stream z {};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), UINT32_MAX));
    out.clear();
    int rc = Z_OK;
    while (rc == Z_OK && out.size() < kMaxTagValueBytes) {
        const std::size_t have = out.size();
        out.resize(std::min(kMaxTagValueBytes, std::max<std::size_t>(2 * have, 256)));
        z.next_out = reinterpret_cast<Bytef*>(out.data() + have);
        z.avail_out = static_cast<uInt>(out.size() - have);
        rc = inflate(&z, Z_NO_FLUSH);
        out.resize(out.size() - z.avail_out);
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END || (rc == Z_OK && out.size() >= kMaxTagValueBytes);
}

} // namespace

Id3v2Reader::Bytes::Bytes(BufferedStream& stream, long begin, long end, bool unsynchronised)
    : stream_(&stream)
    , raw_(begin)
    , end_(end)
    , unsynchronised_(unsynchronised)
{
}

bool Id3v2Reader::Bytes::read(char* out, std::size_t n)
{
    if (!unsynchronised_) {
        if (n > static_cast<std::size_t>(end_ - raw_))
            return false;
        if (out && stream_->readAt(raw_, out, n) != n)
            return false;
        raw_ += static_cast<long>(n);
        return true;
    }
    std::size_t done = 0;
    while (done < n) {
        if (raw_ >= end_)
            return false;
        const auto v = stream_->view(raw_, 1, static_cast<std::size_t>(std::min(end_ - raw_, kChunkBytes)));
        if (v.empty())
            return false;
        std::size_t i = 0;
        for (; i < v.size() && done < n; ++i) {
            const unsigned char c = v[i];
            if (afterFF_ && c == 0) {
                afterFF_ = false;
                continue;
            }
            if (out)
                out[done] = static_cast<char>(c);
            ++done;
            afterFF_ = c == 0xFF;
        }
        raw_ += static_cast<long>(i);
    }
    return true;
}

Id3v2Reader::Id3v2Reader(BufferedStream& stream, long offset, const Id3v2Header& header)
    : stream_(stream)
    , bytes_(stream, 0, 0, false)
    , body_(bytes_)
    , version_(header.version)
{
    const unsigned char flags = header.flags;
    if (version_ == 2 || header.revision != 0 || flags != 0)
        tagLibAlike_ = false;
    const long begin = offset + static_cast<long>(kId3v2HeaderBytes);
    long end = begin + static_cast<long>(header.bodyBytes);
    if (end > stream.size()) {
        // Cut short or lying: what is there may still hold the frames.
        end = stream.size();
        tagLibAlike_ = false;
    }
    tagUnsynchronised_ = (flags & 0x80) != 0;
    // ID3v2.4 unsynchronises frame by frame; the header flag says all are.
    bytes_ = Bytes(
        stream, begin, end, tagUnsynchronised_ && version_ < 4 && canBeUnsynchronised(stream, begin, end));
    if (version_ == 2 && (flags & 0x40))
        ended_ = true; // compressed with a scheme never defined: nothing in it can be read
    else if (version_ > 2 && (flags & 0x40))
        ended_ = !readExtendedHeader();
    framesEnd_ = bytes_.rawPosition();
}

Id3v2Reader::IdKind Id3v2Reader::classify(const unsigned char* id, std::size_t n)
{
    IdKind kind = IdKind::Valid;
    for (std::size_t i = 0; i < n; ++i) {
        if (id[i] == '0')
            kind = IdKind::Unsure;
        else if (!((id[i] >= 'A' && id[i] <= 'Z') || (id[i] >= '1' && id[i] <= '9')))
            return IdKind::Invalid;
    }
    return kind;
}

Id3v2Reader::IdKind Id3v2Reader::idAt(long rawOffset)
{
    unsigned char id[4];
    if (rawOffset < 0 || rawOffset + 4 > bytes_.rawEnd()
        || stream_.readAt(rawOffset, reinterpret_cast<char*>(id), 4) != 4)
        return IdKind::Invalid;
    return classify(id, 4);
}

bool Id3v2Reader::readExtendedHeader()
{
    tagLibAlike_ = false;
    Bytes probe = bytes_;
    unsigned char s[4];
    if (!probe.read(reinterpret_cast<char*>(s), 4))
        return false;
    // Some taggers set the flag and write no extended header. Its size
    // never reads as a frame ID, so one there means the frames start here.
    if (classify(s, 4) != IdKind::Invalid)
        return true;
    long rest = 0;
    if (version_ == 3) {
        rest = static_cast<long>(bigEndian32(s)); // without its own four bytes
    } else {
        if (!isSynchsafe(s))
            return false;
        rest = static_cast<long>(synchsafe32(s)) - 4; // with them
        if (rest < 2)
            return false;
    }
    if (!probe.skip(static_cast<std::size_t>(rest)))
        return false;
    bytes_ = probe;
    return true;
}

long Id3v2Reader::frameSize(const unsigned char* h, long bodyStart)
{
    if (version_ == 2)
        return long(h[3]) << 16 | long(h[4]) << 8 | long(h[5]);
    const long plain = static_cast<long>(bigEndian32(h + 4));
    if (version_ == 3)
        return plain;
    if (!isSynchsafe(h + 4)) {
        tagLibAlike_ = false;
        return plain; // written by a tagger that knew only ID3v2.3
    }
    const long size = static_cast<long>(synchsafe32(h + 4));
    // iTunes wrote ID3v2.4 sizes as plain numbers. Where the synchsafe
    // reading lands on no frame and the plain one does, the plain one is
    // meant (TagLib's rule, kept so that such tags read as they always did).
    if (size > 127) {
        const IdKind atSynchsafe = idAt(bodyStart + size);
        if (atSynchsafe == IdKind::Invalid) {
            if (idAt(bodyStart + plain) != IdKind::Invalid) {
                tagLibAlike_ = false;
                return plain;
            }
        } else if (atSynchsafe == IdKind::Unsure) {
            tagLibAlike_ = false;
        }
    }
    return size;
}

bool Id3v2Reader::next()
{
    const std::size_t headerBytes = version_ == 2 ? 6 : 10;
    const std::size_t idBytes = version_ == 2 ? 3 : 4;
    while (!ended_) {
        unsigned char h[10];
        if (!bytes_.read(reinterpret_cast<char*>(h), headerBytes) || h[0] == 0)
            break; // the tag's end or its padding
        const long bodyStart = bytes_.rawPosition();
        const long size = frameSize(h, bodyStart);
        const IdKind kind = classify(h, idBytes);
        pastFrames_ = pastFrames_ || kind == IdKind::Invalid;
        body_ = bytes_;
        if (!bytes_.skip(static_cast<std::size_t>(size))) {
            // Whatever seems to follow a frame that runs past the tag is
            // not sure to be a frame.
            tagLibAlike_ = false;
            // A download stopped inside a frame: the rest of the file is
            // that frame, a cover's bytes no audio.
            if (!pastFrames_ && bytes_.rawEnd() >= stream_.size())
                framesEnd_ = bytes_.rawEnd();
            break;
        }
        if (!pastFrames_)
            framesEnd_ = bytes_.rawPosition();
        if (kind != IdKind::Valid || size == 0 || (version_ > 2 && (h[8] != 0 || h[9] != 0)))
            tagLibAlike_ = false;
        if (kind == IdKind::Invalid || size == 0)
            continue;
        std::memcpy(id_, h, idBytes);
        flags_ = version_ == 2 ? 0 : h[9];
        size_ = static_cast<std::size_t>(size);
        return true;
    }
    ended_ = true;
    return false;
}

bool Id3v2Reader::data(std::string& out)
{
    out.resize(std::min(size_, kMaxTagValueBytes));
    Bytes b = body_;
    if (!b.read(out.data(), out.size()))
        return false;
    if (version_ == 2)
        return true;
    bool compressed = false, encrypted = false, lengthGiven = false;
    std::size_t extra = 0; // bytes between the header and the content
    if (version_ == 3) {
        compressed = flags_ & 0x80;
        encrypted = flags_ & 0x40;
        extra = (compressed ? 4 : 0) + (encrypted ? 1 : 0) + (flags_ & 0x20 ? 1 : 0);
    } else {
        if ((flags_ & 0x02) || tagUnsynchronised_)
            resynchronise(out);
        compressed = flags_ & 0x08;
        encrypted = flags_ & 0x04;
        lengthGiven = flags_ & 0x01;
        extra = (flags_ & 0x40 ? 1 : 0) + (encrypted ? 1 : 0) + (lengthGiven ? 4 : 0);
    }
    if (encrypted || extra > out.size())
        return false;
    out.erase(0, extra);
    if (!compressed)
        return true;
    thread_local std::string inflated;
    // The length indicator a compressed frame must carry is sometimes there
    // without its flag.
    if (!inflateAll(out, inflated)
        && (lengthGiven || out.size() < 4 || !inflateAll(std::string_view(out).substr(4), inflated)))
        return false;
    out.swap(inflated);
    return true;
}

} // namespace melodex::trackinfo

#include "ber/ber.h"

#include <cstring>

namespace zv::ber {

std::string Error::text() const { return "at offset " + std::to_string(offset) + ": " + reason; }

std::string Tag::text() const {
    static const char* const kClass[] = {"universal", "application", "context", "private"};
    std::string s = "[";
    s += kClass[static_cast<unsigned>(cls) & 3];
    s += ' ';
    s += std::to_string(number);
    if (constructed) s += " constructed";
    s += ']';
    return s;
}

BitString BitString::fromText(std::string_view bits) {
    BitString b;
    for (char c : bits) {
        if (c == '0' || c == '1') b.set(b.bitCount, c == '1');
    }
    return b;
}

void BitString::set(std::size_t i, bool on) {
    if (i >= bitCount) {
        bitCount = i + 1;
        bytes.resize((bitCount + 7) / 8, 0);
    }
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (i % 8));
    if (on)
        bytes[i / 8] |= mask;
    else
        bytes[i / 8] &= static_cast<uint8_t>(~mask);
}

std::string BitString::toText() const {
    std::string s;
    s.reserve(bitCount);
    for (std::size_t i = 0; i < bitCount; ++i) s += test(i) ? '1' : '0';
    return s;
}

std::string Oid::text() const {
    std::string s;
    for (std::size_t i = 0; i < arcs.size(); ++i) {
        if (i) s += '.';
        s += std::to_string(arcs[i]);
    }
    return s;
}

// ---- contents decoders --------------------------------------------------------

namespace {

Status requirePrimitive(const Tlv& tlv, const char* what) {
    if (tlv.tag.constructed)
        return makeError(tlv.offset, std::string("constructed encoding of ") + what + " not supported");
    return {};
}

}  // namespace

Result<int64_t> decodeInt64(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "INTEGER"));
    const ByteView v = tlv.value;
    if (v.empty()) return makeError(tlv.valueOffset, "INTEGER with empty contents");
    // X.690 8.3.2 forbids redundant leading octets; senders still produce
    // them, so skip them and judge the size of what is left.
    std::size_t i = 0;
    while (i + 1 < v.size && ((v[i] == 0x00 && !(v[i + 1] & 0x80)) || (v[i] == 0xFF && (v[i + 1] & 0x80)))) ++i;
    if (v.size - i > 8)
        return makeError(tlv.valueOffset, "INTEGER of " + std::to_string(v.size - i) + " bytes overflows 64 bits");
    uint64_t u = (v[i] & 0x80) ? ~uint64_t{0} : 0;
    for (; i < v.size; ++i) u = (u << 8) | v[i];
    return static_cast<int64_t>(u);
}

Result<uint64_t> decodeUint64(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "INTEGER"));
    const ByteView v = tlv.value;
    if (v.empty()) return makeError(tlv.valueOffset, "INTEGER with empty contents");
    if (v[0] & 0x80) return makeError(tlv.valueOffset, "negative INTEGER where an unsigned value is expected");
    std::size_t i = 0;
    while (i + 1 < v.size && v[i] == 0x00) ++i;
    if (v.size - i > 8)
        return makeError(tlv.valueOffset, "INTEGER of " + std::to_string(v.size - i) + " bytes overflows 64 bits");
    uint64_t u = 0;
    for (; i < v.size; ++i) u = (u << 8) | v[i];
    return u;
}

Result<bool> decodeBoolean(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "BOOLEAN"));
    if (tlv.value.size != 1)
        return makeError(tlv.valueOffset, "BOOLEAN of " + std::to_string(tlv.value.size) + " bytes, expected 1");
    return tlv.value[0] != 0;  // X.690 8.2.2: any non-zero octet is TRUE
}

Status decodeNull(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "NULL"));
    if (tlv.value.size != 0)
        return makeError(tlv.valueOffset, "NULL with " + std::to_string(tlv.value.size) + " content bytes");
    return {};
}

Result<BitString> decodeBitString(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "BIT STRING"));
    const ByteView v = tlv.value;
    if (v.empty()) return makeError(tlv.valueOffset, "BIT STRING without its unused-bits octet");
    const unsigned unused = v[0];
    if (unused > 7)
        return makeError(tlv.valueOffset, "BIT STRING with " + std::to_string(unused) + " unused bits (max 7)");
    if (v.size == 1 && unused != 0)
        return makeError(tlv.valueOffset, "empty BIT STRING with " + std::to_string(unused) + " unused bits");
    BitString b;
    b.bytes.assign(v.begin() + 1, v.end());
    b.bitCount = b.bytes.size() * 8 - unused;
    if (!b.bytes.empty()) b.bytes.back() &= static_cast<uint8_t>(0xFFu << unused);  // canonical padding
    return b;
}

Result<std::vector<uint8_t>> decodeOctetString(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "OCTET STRING"));
    return tlv.value.toVector();
}

Result<std::string> decodeVisibleString(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "string"));
    for (std::size_t i = 0; i < tlv.value.size; ++i) {
        const uint8_t c = tlv.value[i];
        if (c < 0x20 || c > 0x7E)
            return makeError(tlv.valueOffset + i, "byte " + std::to_string(c) + " not allowed in VisibleString");
    }
    return std::string(reinterpret_cast<const char*>(tlv.value.data), tlv.value.size);
}

Result<std::string> decodeStringOctets(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "string"));
    return std::string(reinterpret_cast<const char*>(tlv.value.data), tlv.value.size);
}

Result<std::string> decodeUtf8String(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "UTF8String"));
    const ByteView v = tlv.value;
    for (std::size_t i = 0; i < v.size;) {
        const uint8_t c = v[i];
        std::size_t n;
        uint32_t cp;
        if (c < 0x80) {
            n = 1;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07;
        } else
            return makeError(tlv.valueOffset + i, "invalid UTF-8 lead byte " + std::to_string(c));
        if (n > v.size - i) return makeError(tlv.valueOffset + i, "truncated UTF-8 sequence");
        for (std::size_t k = 1; k < n; ++k) {
            if ((v[i + k] & 0xC0) != 0x80) return makeError(tlv.valueOffset + i + k, "invalid UTF-8 continuation byte");
            cp = (cp << 6) | (v[i + k] & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return makeError(tlv.valueOffset + i, "invalid UTF-8 code point");
        i += n;
    }
    return std::string(reinterpret_cast<const char*>(v.data), v.size);
}

Result<Oid> decodeOid(const Tlv& tlv) {
    ZV_CHECK(requirePrimitive(tlv, "OBJECT IDENTIFIER"));
    const ByteView v = tlv.value;
    if (v.empty()) return makeError(tlv.valueOffset, "OBJECT IDENTIFIER with empty contents");
    Oid oid;
    uint64_t sub = 0;
    bool first = true;
    bool inArc = false;
    for (std::size_t i = 0; i < v.size; ++i) {
        if (!inArc && v[i] == 0x80)
            return makeError(tlv.valueOffset + i, "OBJECT IDENTIFIER arc with leading 0x80");  // X.690 8.19.2
        inArc = true;
        sub = (sub << 7) | (v[i] & 0x7F);
        if (sub > 0xFFFFFFFFull + 80) return makeError(tlv.valueOffset + i, "OBJECT IDENTIFIER arc exceeds 32 bits");
        if (v[i] & 0x80) continue;
        if (first) {
            // X.690 8.19.4: the first subidentifier packs two arcs.
            const uint32_t a = sub < 40 ? 0 : sub < 80 ? 1 : 2;
            const uint64_t b = sub - 40ull * a;
            if (b > 0xFFFFFFFFull) return makeError(tlv.valueOffset + i, "OBJECT IDENTIFIER arc exceeds 32 bits");
            oid.arcs.push_back(a);
            oid.arcs.push_back(static_cast<uint32_t>(b));
            first = false;
        } else {
            if (sub > 0xFFFFFFFFull) return makeError(tlv.valueOffset + i, "OBJECT IDENTIFIER arc exceeds 32 bits");
            oid.arcs.push_back(static_cast<uint32_t>(sub));
        }
        sub = 0;
        inArc = false;
    }
    if (inArc) return makeError(tlv.valueOffset + v.size - 1, "OBJECT IDENTIFIER ends inside an arc");
    return oid;
}

// ---- reader -------------------------------------------------------------------

Result<Tlv> Reader::parse(std::size_t& pos) const {
    const std::size_t start = pos;
    const uint8_t* d = data_.data;
    const std::size_t n = data_.size;
    if (pos >= n) return makeError(base_ + pos, "no TLV: end of data");
    Tlv t;
    t.offset = base_ + start;
    t.depth = depth_;
    const uint8_t id = d[pos++];
    t.tag.cls = static_cast<TagClass>(id >> 6);
    t.tag.constructed = (id & 0x20) != 0;
    uint32_t num = id & 0x1F;
    if (num == 0x1F) {
        // X.690 8.1.2.4: high tag number in base 128, no leading 0x80.
        num = 0;
        for (unsigned k = 0;; ++k) {
            if (pos >= n) return makeError(base_ + pos, "tag number truncated");
            const uint8_t b = d[pos++];
            if (k == 0 && b == 0x80) return makeError(base_ + pos - 1, "high tag number with leading 0x80");
            if (k == 4) return makeError(t.offset, "tag number longer than 28 bits");
            num = (num << 7) | (b & 0x7F);
            if (!(b & 0x80)) break;
        }
    }
    t.tag.number = num;
    if (pos >= n) return makeError(base_ + pos, "length missing after tag " + t.tag.text());
    const uint8_t l0 = d[pos++];
    std::size_t len;
    if (l0 < 0x80) {
        len = l0;
    } else if (l0 == 0x80) {
        return makeError(base_ + pos - 1, "indefinite length not supported");
    } else if (l0 == 0xFF) {
        return makeError(base_ + pos - 1, "reserved length octet 0xFF");
    } else {
        const unsigned nb = l0 & 0x7F;
        if (nb > kMaxLengthBytes)
            return makeError(base_ + pos - 1,
                             "length of " + std::to_string(nb) + " bytes exceeds " + std::to_string(kMaxLengthBytes));
        if (nb > n - pos)
            return makeError(base_ + pos - 1, "length bytes truncated: need " + std::to_string(nb) + ", remaining " +
                                                  std::to_string(n - pos));
        uint64_t l = 0;
        for (unsigned k = 0; k < nb; ++k) l = (l << 8) | d[pos++];
        len = static_cast<std::size_t>(l);
    }
    if (len > n - pos)
        return makeError(base_ + start,
                         "length " + std::to_string(len) + " exceeds remaining " + std::to_string(n - pos));
    t.valueOffset = base_ + pos;
    t.value = ByteView(d + pos, len);
    pos += len;
    return t;
}

Result<Tag> Reader::peekTag() const {
    std::size_t p = pos_;
    ZV_TRY(Tlv t, parse(p));
    return t.tag;
}

bool Reader::nextIs(Tag tag) const {
    auto t = peekTag();
    return t && *t == tag;
}

Result<Tlv> Reader::read() { return parse(pos_); }

Result<Tlv> Reader::read(Tag expected) {
    std::size_t p = pos_;
    ZV_TRY(Tlv t, parse(p));
    if (t.tag != expected) return makeError(t.offset, "expected " + expected.text() + " but found " + t.tag.text());
    pos_ = p;
    return t;
}

Result<Reader> Reader::enter(const Tlv& tlv) const {
    if (!tlv.tag.constructed)
        return makeError(tlv.offset, "primitive " + tlv.tag.text() + " where a constructed value is expected");
    if (tlv.depth + 1 > kMaxDepth) return makeError(tlv.offset, "nesting depth exceeds " + std::to_string(kMaxDepth));
    return Reader(tlv.value, tlv.valueOffset, tlv.depth + 1);
}

Result<Reader> Reader::enter(Tag expected) {
    ZV_TRY(Tlv t, read(expected));
    return enter(t);
}

Status Reader::expectEnd(const char* what) const {
    if (!atEnd()) return makeError(offset(), std::to_string(remaining()) + " trailing bytes in " + what);
    return {};
}

Result<int64_t> Reader::readInt64(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeInt64(t);
}
Result<uint64_t> Reader::readUint64(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeUint64(t);
}
Result<bool> Reader::readBoolean(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeBoolean(t);
}
Status Reader::readNull(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeNull(t);
}
Result<BitString> Reader::readBitString(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeBitString(t);
}
Result<std::vector<uint8_t>> Reader::readOctetString(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeOctetString(t);
}
Result<std::string> Reader::readVisibleString(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeVisibleString(t);
}
Result<std::string> Reader::readUtf8String(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeUtf8String(t);
}
Result<std::string> Reader::readStringOctets(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeStringOctets(t);
}
Result<Oid> Reader::readOid(Tag tag) {
    ZV_TRY(Tlv t, read(tag));
    return decodeOid(t);
}

// ---- writer -------------------------------------------------------------------

void Writer::writeTag(Tag tag) {
    const uint8_t lead = static_cast<uint8_t>((static_cast<unsigned>(tag.cls) << 6) | (tag.constructed ? 0x20 : 0));
    if (tag.number < 31) {
        buf_.push_back(static_cast<uint8_t>(lead | tag.number));
        return;
    }
    uint8_t tmp[5];
    int k = 0;
    uint32_t n = tag.number;
    do {
        tmp[k++] = static_cast<uint8_t>(n & 0x7F);
        n >>= 7;
    } while (n && k < 5);
    buf_.push_back(static_cast<uint8_t>(lead | 0x1F));
    while (k > 1) buf_.push_back(static_cast<uint8_t>(tmp[--k] | 0x80));
    buf_.push_back(tmp[0]);
}

namespace {
unsigned lengthBytes(std::size_t len) {
    unsigned n = 0;
    for (std::size_t l = len; l; l >>= 8) ++n;
    return n;
}
}  // namespace

void Writer::writeLength(std::size_t len) {
    if (len < 0x80) {
        buf_.push_back(static_cast<uint8_t>(len));
        return;
    }
    const unsigned nb = lengthBytes(len);
    buf_.push_back(static_cast<uint8_t>(0x80 | nb));
    for (unsigned k = nb; k-- > 0;) buf_.push_back(static_cast<uint8_t>(len >> (8 * k)));
}

void Writer::begin(Tag tag) {
    tag.constructed = true;
    writeTag(tag);
    open_.push_back(buf_.size());
    buf_.push_back(0);  // placeholder, patched in end()
}

void Writer::end() {
    if (open_.empty()) return;  // unbalanced end(): ignore rather than corrupt
    const std::size_t at = open_.back();
    open_.pop_back();
    const std::size_t len = buf_.size() - at - 1;
    if (len < 0x80) {
        buf_[at] = static_cast<uint8_t>(len);
        return;
    }
    const unsigned nb = lengthBytes(len);
    buf_.insert(buf_.begin() + static_cast<std::ptrdiff_t>(at) + 1, nb, 0);
    buf_[at] = static_cast<uint8_t>(0x80 | nb);
    for (unsigned k = 0; k < nb; ++k) buf_[at + 1 + k] = static_cast<uint8_t>(len >> (8 * (nb - 1 - k)));
}

void Writer::primitive(Tag tag, ByteView contents) {
    tag.constructed = false;
    writeTag(tag);
    writeLength(contents.size);
    buf_.insert(buf_.end(), contents.begin(), contents.end());
}

std::size_t encodeIntegerContents(int64_t v, uint8_t out[8]) {
    std::size_t n = 8;
    // Drop leading bytes while the next byte still carries the sign.
    while (n > 1) {
        const uint8_t top = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * (n - 1)));
        const uint8_t next = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * (n - 2)));
        if ((top == 0x00 && !(next & 0x80)) || (top == 0xFF && (next & 0x80)))
            --n;
        else
            break;
    }
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * (n - 1 - k)));
    return n;
}

void Writer::integer(Tag tag, int64_t v) {
    uint8_t c[8];
    primitive(tag, ByteView(c, encodeIntegerContents(v, c)));
}

void Writer::unsignedInteger(Tag tag, uint64_t v) {
    if (v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        integer(tag, static_cast<int64_t>(v));
        return;
    }
    uint8_t c[9];
    c[0] = 0;
    for (int k = 0; k < 8; ++k) c[1 + k] = static_cast<uint8_t>(v >> (8 * (7 - k)));
    primitive(tag, ByteView(c, 9));
}

void Writer::boolean(Tag tag, bool v) {
    // X.690 8.2.2 lets TRUE be any non-zero octet; IEC 61850 peers (and the
    // reference captures) send 0x01, so we do too.
    const uint8_t c = v ? 0x01 : 0x00;
    primitive(tag, ByteView(&c, 1));
}

void Writer::null(Tag tag) { primitive(tag, ByteView()); }

void Writer::bitString(Tag tag, const BitString& bits) {
    tag.constructed = false;
    writeTag(tag);
    const std::size_t nbytes = (bits.bitCount + 7) / 8;
    writeLength(nbytes + 1);
    buf_.push_back(static_cast<uint8_t>(nbytes * 8 - bits.bitCount));
    for (std::size_t i = 0; i < nbytes; ++i) {
        uint8_t b = i < bits.bytes.size() ? bits.bytes[i] : 0;
        if (i + 1 == nbytes) b &= static_cast<uint8_t>(0xFFu << (nbytes * 8 - bits.bitCount));
        buf_.push_back(b);
    }
}

void Writer::string(Tag tag, std::string_view text) {
    primitive(tag, ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool Writer::oid(Tag tag, const Oid& oid) {
    const auto& a = oid.arcs;
    if (a.size() < 2 || a[0] > 2 || (a[0] < 2 && a[1] >= 40)) return false;
    uint8_t tmp[10];
    auto put = [&](std::vector<uint8_t>& out, uint64_t sub) {
        int k = 0;
        do {
            tmp[k++] = static_cast<uint8_t>(sub & 0x7F);
            sub >>= 7;
        } while (sub);
        while (k > 1) out.push_back(static_cast<uint8_t>(tmp[--k] | 0x80));
        out.push_back(tmp[0]);
    };
    tag.constructed = false;
    writeTag(tag);
    const std::size_t lenAt = buf_.size();
    buf_.push_back(0);
    put(buf_, 40ull * a[0] + a[1]);
    for (std::size_t i = 2; i < a.size(); ++i) put(buf_, a[i]);
    open_.push_back(lenAt);
    end();  // patch the length like a constructed value's
    return true;
}

void Writer::raw(ByteView encoded) { buf_.insert(buf_.end(), encoded.begin(), encoded.end()); }

}  // namespace zv::ber

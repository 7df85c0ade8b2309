// BER (ITU-T X.690) reading and writing for the stack's protocol layers.
//
// Include as "ber/ber.h" (target zv_ber puts stack/ on the include path).
// No Qt, no sockets, no exceptions for control flow: every decode step returns
// a Result<T> or Status carrying a precise Error (absolute offset + reason).
//
// One TLV on the wire (X.690 8.1):
//
//   identifier                    length                      contents
//   +--+-+-----+[+-+-------+...]  +-+-------+ or +-+-----+--...--+  +---------+
//   |cl|c| num || |  num  |   ]   |0| len   |    |1| n   | n bytes|  | len     |
//   +--+-+-----+[+-+-------+...]  +-+-------+    +-+-----+--...--+  | bytes   |
//    cl: 00 universal, 01 application, 10 context, 11 private
//    c:  1 constructed;  num 31 (11111) -> high tag number follows in base 128
//   Lengths: short form (< 128) or long form with 1..4 length bytes; the
//   indefinite form (0x80) is rejected (MMS and the ISO upper layers as we use
//   them send definite lengths only).
#pragma once

#include "base/byte_view.h"
#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace zv::ber {

// Nesting limit for constructed encodings read by one Reader tree. The deepest
// user is an MMS TypeDescription: four BER levels per structure level, so
// mms::kMaxDataDepth (16) levels plus the PDU envelope need about 70.
constexpr unsigned kMaxDepth = 80;
// Long-form length at most 4 length bytes (lengths below 4 GiB).
constexpr unsigned kMaxLengthBytes = 4;
// High tag numbers up to 28 bits (4 base-128 bytes).
constexpr uint32_t kMaxTagNumber = (1u << 28) - 1;

// ---- errors and results ---------------------------------------------------

struct Error {
    std::size_t offset = 0;  // absolute offset in the decoded buffer
    std::string reason;      // e.g. "length 70000 exceeds remaining 12"
    // "at offset 5: length 70000 exceeds remaining 12"
    std::string text() const;
};

inline Error makeError(std::size_t offset, std::string reason) { return Error{offset, std::move(reason)}; }

template <class T>
using Result = BasicResult<T, Error>;
using Status = BasicStatus<Error>;

// ---- tags -------------------------------------------------------------------

enum class TagClass : uint8_t { Universal = 0, Application = 1, Context = 2, Private = 3 };

struct Tag {
    TagClass cls = TagClass::Universal;
    bool constructed = false;
    uint32_t number = 0;

    friend bool operator==(const Tag& a, const Tag& b) {
        return a.cls == b.cls && a.constructed == b.constructed && a.number == b.number;
    }
    friend bool operator!=(const Tag& a, const Tag& b) { return !(a == b); }
    std::string text() const;  // "[context 1 constructed]", "[universal 2]"
};

// Shorthands: ctx(1) = [1] primitive, ctxC(1) = [1] constructed, app/appC
// likewise, uni(n) / uniC(n) for universal tags.
constexpr Tag ctx(uint32_t n) { return Tag{TagClass::Context, false, n}; }
constexpr Tag ctxC(uint32_t n) { return Tag{TagClass::Context, true, n}; }
constexpr Tag app(uint32_t n) { return Tag{TagClass::Application, false, n}; }
constexpr Tag appC(uint32_t n) { return Tag{TagClass::Application, true, n}; }
constexpr Tag uni(uint32_t n) { return Tag{TagClass::Universal, false, n}; }
constexpr Tag uniC(uint32_t n) { return Tag{TagClass::Universal, true, n}; }

namespace tags {
constexpr Tag kBoolean = uni(1);
constexpr Tag kInteger = uni(2);
constexpr Tag kBitString = uni(3);
constexpr Tag kOctetString = uni(4);
constexpr Tag kNull = uni(5);
constexpr Tag kOid = uni(6);
constexpr Tag kExternal = uniC(8);
constexpr Tag kEnumerated = uni(10);
constexpr Tag kUtf8String = uni(12);
constexpr Tag kSequence = uniC(16);
constexpr Tag kSet = uniC(17);
constexpr Tag kGeneralizedTime = uni(24);
constexpr Tag kGraphicString = uni(25);
constexpr Tag kVisibleString = uni(26);
}  // namespace tags

// ---- values -------------------------------------------------------------------

using zv::ByteView;

// BIT STRING, bit 0 = most significant bit of the first byte (X.690 8.6).
// Unused trailing bits are kept zero so that equal strings compare equal.
struct BitString {
    std::vector<uint8_t> bytes;
    std::size_t bitCount = 0;

    BitString() = default;
    explicit BitString(std::size_t bits) : bytes((bits + 7) / 8), bitCount(bits) {}
    // From '0'/'1' text, e.g. "0110" (other characters ignored).
    static BitString fromText(std::string_view bits);
    bool test(std::size_t i) const { return i < bitCount && (bytes[i / 8] >> (7 - i % 8)) & 1; }
    void set(std::size_t i, bool on = true);  // grows the string when i >= bitCount
    std::string toText() const;
    friend bool operator==(const BitString& a, const BitString& b) {
        return a.bitCount == b.bitCount && a.bytes == b.bytes;
    }
    friend bool operator!=(const BitString& a, const BitString& b) { return !(a == b); }
};

// OBJECT IDENTIFIER as its arcs, e.g. {1, 0, 9506, 2, 1}.
struct Oid {
    std::vector<uint32_t> arcs;
    friend bool operator==(const Oid& a, const Oid& b) { return a.arcs == b.arcs; }
    friend bool operator!=(const Oid& a, const Oid& b) { return !(a == b); }
    std::string text() const;  // "1.0.9506.2.1"
};

// One decoded TLV: where it starts and its contents (a view into the input).
struct Tlv {
    Tag tag;
    std::size_t offset = 0;       // absolute offset of the identifier octet
    std::size_t valueOffset = 0;  // absolute offset of the contents
    ByteView value;
    unsigned depth = 0;  // depth of the Reader that produced it
};

// Contents decoders. Each checks primitive form and the contents' rules.
Result<int64_t> decodeInt64(const Tlv& tlv);
Result<uint64_t> decodeUint64(const Tlv& tlv);  // rejects negative values
Result<bool> decodeBoolean(const Tlv& tlv);
Status decodeNull(const Tlv& tlv);
Result<BitString> decodeBitString(const Tlv& tlv);
Result<std::vector<uint8_t>> decodeOctetString(const Tlv& tlv);
Result<std::string> decodeVisibleString(const Tlv& tlv);  // 0x20..0x7E only
Result<std::string> decodeUtf8String(const Tlv& tlv);     // well-formed UTF-8
// A primitive character string taken as octets, whatever they are: the
// GraphicString of a file name carries the device's character set (ASCII,
// UTF-8, GB18030) without ISO 2022 escapes in practice, and a GeneralizedTime
// is judged by its own parser. The caller checks the characters it needs.
Result<std::string> decodeStringOctets(const Tlv& tlv);
Result<Oid> decodeOid(const Tlv& tlv);

// Integer narrowed to T with a range check ("value 70000 out of range 0..65535").
template <class T>
Result<T> decodeIntegerAs(const Tlv& tlv);

// ---- reader -------------------------------------------------------------------

// Bounded cursor over one level of TLVs. It never reads outside its bytes;
// child readers (enter) cover exactly the contents of one constructed TLV.
class Reader {
public:
    Reader() = default;
    // `base` is the absolute offset of data[0], used in error reports.
    explicit Reader(ByteView data, std::size_t base = 0, unsigned depth = 0)
        : data_(data), base_(base), depth_(depth) {}

    bool atEnd() const { return pos_ >= data_.size; }
    std::size_t remaining() const { return data_.size - pos_; }
    std::size_t offset() const { return base_ + pos_; }  // absolute
    unsigned depth() const { return depth_; }

    Result<Tag> peekTag() const;     // does not advance
    bool nextIs(Tag tag) const;      // false at end or on a bad header
    Result<Tlv> read();              // any TLV, advances past it
    Result<Tlv> read(Tag expected);  // fails unless the tag matches
    // Reader over the contents of a constructed TLV (depth + 1, limited).
    Result<Reader> enter(const Tlv& tlv) const;
    Result<Reader> enter(Tag expected);  // read(expected) then enter
    // Fails with "N trailing bytes in <what>" unless everything was consumed.
    Status expectEnd(const char* what) const;

    // read(tag) + the matching decoder.
    Result<int64_t> readInt64(Tag tag);
    Result<uint64_t> readUint64(Tag tag);
    template <class T>
    Result<T> readIntegerAs(Tag tag) {
        ZV_TRY(Tlv t, read(tag));
        return decodeIntegerAs<T>(t);
    }
    Result<bool> readBoolean(Tag tag);
    Status readNull(Tag tag);
    Result<BitString> readBitString(Tag tag);
    Result<std::vector<uint8_t>> readOctetString(Tag tag);
    Result<std::string> readVisibleString(Tag tag);
    Result<std::string> readUtf8String(Tag tag);
    Result<std::string> readStringOctets(Tag tag);
    Result<Oid> readOid(Tag tag);

private:
    Result<Tlv> parse(std::size_t& pos) const;

    ByteView data_;
    std::size_t pos_ = 0;
    std::size_t base_ = 0;
    unsigned depth_ = 0;
};

// ---- writer -------------------------------------------------------------------

// Builds BER with minimal (definite) lengths into one growing buffer.
// Constructed values: begin(tag) ... end(); the length is back-patched at
// end() (contents longer than 127 bytes are moved up by the extra length
// bytes, once per constructed value). No allocation per byte.
class Writer {
public:
    // Room for a typical PDU, so that it grows once at most.
    static constexpr std::size_t kInitialCapacity = 256;

    Writer() {
        buf_.reserve(kInitialCapacity);
        open_.reserve(kMaxDepth);
    }
    explicit Writer(std::vector<uint8_t> reuse) : buf_(std::move(reuse)) {
        buf_.clear();
        open_.reserve(kMaxDepth);
    }

    void begin(Tag tag);  // tag is written constructed
    void end();           // closes the innermost begin()
    template <class F>
    void constructed(Tag tag, F&& body) {
        begin(tag);
        body();
        end();
    }

    void primitive(Tag tag, ByteView contents);
    void integer(Tag tag, int64_t v);
    void unsignedInteger(Tag tag, uint64_t v);
    void boolean(Tag tag, bool v);  // TRUE as 0x01
    void null(Tag tag);
    void bitString(Tag tag, const BitString& bits);
    void octetString(Tag tag, ByteView bytes) { primitive(tag, bytes); }
    void string(Tag tag, std::string_view text);  // Visible/UTF8/Graphic: bytes as given
    // Returns false (writing nothing) unless the OID is valid: >= 2 arcs,
    // first arc 0..2, second arc < 40 when the first is 0 or 1.
    bool oid(Tag tag, const Oid& oid);
    void raw(ByteView encoded);  // already encoded TLVs

    std::size_t openCount() const { return open_.size(); }
    std::size_t size() const { return buf_.size(); }
    const std::vector<uint8_t>& bytes() const { return buf_; }
    std::vector<uint8_t> take() { return std::move(buf_); }

private:
    void writeTag(Tag tag);
    void writeLength(std::size_t len);

    std::vector<uint8_t> buf_;
    std::vector<std::size_t> open_;  // offsets of the placeholder length bytes
};

// Minimal encodings of INTEGER contents (for callers that frame them differently).
std::size_t encodeIntegerContents(int64_t v, uint8_t out[8]);

// ---- template implementation ---------------------------------------------

template <class T>
Result<T> decodeIntegerAs(const Tlv& tlv) {
    static_assert(std::is_integral<T>::value && sizeof(T) <= 8, "integer type");
    if constexpr (std::is_signed<T>::value) {
        ZV_TRY(int64_t v, decodeInt64(tlv));
        if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
            v > static_cast<int64_t>(std::numeric_limits<T>::max()))
            return makeError(tlv.valueOffset, "value " + std::to_string(v) + " out of range " +
                                                  std::to_string(std::numeric_limits<T>::min()) + ".." +
                                                  std::to_string(std::numeric_limits<T>::max()));
        return static_cast<T>(v);
    } else {
        ZV_TRY(uint64_t v, decodeUint64(tlv));
        if (v > static_cast<uint64_t>(std::numeric_limits<T>::max()))
            return makeError(tlv.valueOffset, "value " + std::to_string(v) + " out of range 0.." +
                                                  std::to_string(std::numeric_limits<T>::max()));
        return static_cast<T>(v);
    }
}

}  // namespace zv::ber

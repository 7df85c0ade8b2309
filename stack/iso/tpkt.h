// RFC 1006 TPKT framing of ISO transport over TCP.
//
//   0        1          2                3
//   +--------+----------+----------------+---------------------------
//   | vrsn 3 | reserved | length (16 BE) | TPDU (length - 4 octets)
//   +--------+----------+----------------+---------------------------
//   length counts the whole packet, header included (RFC 1006 section 6).
#pragma once

#include "iso/result.h"

namespace zv::iso {

constexpr std::size_t kTpktHeaderSize = 4;
constexpr uint8_t kTpktVersion = 3;
// Shortest packet that can carry a TPDU: header + a DT TPDU (LI, code, EOT).
constexpr std::size_t kTpktMinLength = 7;
// The 16-bit length field caps a packet at 65535 octets (RFC 1006 section 6).
constexpr std::size_t kTpktMaxLength = 65535;
// Default bound for received packets: a TPDU of the largest class 0 size
// (8192, ISO 8073 13.3.4 b) plus the TPKT header.
constexpr std::size_t kTpktDefaultMaxLength = 8192 + kTpktHeaderSize;

// Frames one TPDU; fails when the packet would exceed kTpktMaxLength.
Result<Bytes> tpktEncode(ByteView tpdu);
// Appends the framed TPDU to `out` (no failure check: tpdu must fit).
Status tpktAppend(Bytes& out, ByteView tpdu);

// Splits a TCP byte stream into TPDUs. Feed any chunking of the stream; each
// complete packet yields its TPDU (header removed). A bad header poisons the
// reader: the stream cannot be resynchronised, the caller closes the socket.
class TpktReader {
public:
    explicit TpktReader(std::size_t maxLength = kTpktDefaultMaxLength);

    // Appends whole TPDUs found in `chunk` to `tpdus`. Fails (and stays
    // failed) on version != 3, length < 7 or length > the configured maximum.
    Status feed(ByteView chunk, std::vector<Bytes>& tpdus);
    // The same one TPDU at a time, without copies: the next whole TPDU of
    // `chunk` from `pos` on, as a view into `chunk` (or into the reader for
    // a packet begun in an earlier chunk) valid until the next call. False
    // once the chunk is used up (the start of a packet kept) or when the
    // stream is bad (failed(), error()).
    bool next(ByteView chunk, std::size_t& pos, ByteView& tpdu);
    const Error& error() const { return error_; }
    // Bytes of an incomplete packet held back for the next feed.
    std::size_t buffered() const { return handed_ ? 0 : buf_.size(); }
    bool failed() const { return failed_; }
    std::size_t maxLength() const { return max_; }

private:
    std::size_t max_;
    Bytes buf_;
    bool handed_ = false;  // next() handed out the packet in buf_
    bool failed_ = false;
    Error error_;
};

}  // namespace zv::iso

#include "iso/tpkt.h"

#include <algorithm>
#include <cstdio>

namespace zv::iso {

std::string hexText(ByteView bytes, std::size_t max) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < bytes.size && i < max; ++i) {
        std::snprintf(b, sizeof b, i ? " %02x" : "%02x", bytes[i]);
        s += b;
    }
    if (bytes.size > max) s += " ...";
    return s;
}

Status tpktAppend(Bytes& out, ByteView tpdu) {
    const std::size_t len = tpdu.size + kTpktHeaderSize;
    if (len > kTpktMaxLength)
        return makeError("TPKT: TPDU of " + std::to_string(tpdu.size) + " octets exceeds the packet maximum " +
                         std::to_string(kTpktMaxLength - kTpktHeaderSize));
    out.reserve(out.size() + len);
    out.push_back(kTpktVersion);
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(len >> 8));
    out.push_back(static_cast<uint8_t>(len));
    out.insert(out.end(), tpdu.begin(), tpdu.end());
    return {};
}

Result<Bytes> tpktEncode(ByteView tpdu) {
    Bytes out;
    ZV_CHECK(tpktAppend(out, tpdu));
    return out;
}

TpktReader::TpktReader(std::size_t maxLength) : max_(std::min(std::max(maxLength, kTpktMinLength), kTpktMaxLength)) {}

Status TpktReader::feed(ByteView chunk, std::vector<Bytes>& tpdus) {
    std::size_t pos = 0;
    ByteView tpdu;
    while (next(chunk, pos, tpdu)) tpdus.emplace_back(tpdu.begin(), tpdu.end());
    if (failed_) return error_;
    return {};
}

bool TpktReader::next(ByteView chunk, std::size_t& pos, ByteView& tpdu) {
    if (failed_) return false;
    if (handed_) {
        buf_.clear();
        handed_ = false;
    }
    // Whole packets are taken straight from the chunk; only a packet split
    // across chunks is copied into buf_.
    auto takeInto = [&](std::size_t want) {
        const std::size_t n = std::min(want - buf_.size(), chunk.size - pos);
        buf_.insert(buf_.end(), chunk.data + pos, chunk.data + pos + n);
        pos += n;
    };
    if (!buf_.empty() && buf_.size() < kTpktHeaderSize) takeInto(kTpktHeaderSize);
    const bool held = !buf_.empty();
    const uint8_t* p = held ? buf_.data() : chunk.data + pos;
    const std::size_t avail = held ? buf_.size() : chunk.size - pos;
    if (avail < kTpktHeaderSize) {
        if (!held && avail) {
            buf_.assign(p, p + avail);
            pos += avail;
        }
        return false;
    }
    const std::size_t len = (std::size_t(p[2]) << 8) | p[3];
    if (p[0] != kTpktVersion)
        error_ = makeError("TPKT: version " + std::to_string(p[0]) + ", expected 3");
    else if (len < kTpktMinLength)
        error_ = makeError("TPKT: length " + std::to_string(len) + " below the minimum " +
                           std::to_string(kTpktMinLength));
    else if (len > max_)
        error_ = makeError("TPKT: length " + std::to_string(len) + " exceeds the maximum " + std::to_string(max_));
    if (!error_.reason.empty()) {
        failed_ = true;
        buf_.clear();
        buf_.shrink_to_fit();
        return false;
    }
    if (held) {
        takeInto(len);
        if (buf_.size() < len) return false;
        tpdu = ByteView(buf_.data() + kTpktHeaderSize, len - kTpktHeaderSize);
        handed_ = true;
        return true;
    }
    if (avail >= len) {
        tpdu = ByteView(p + kTpktHeaderSize, len - kTpktHeaderSize);
        pos += len;
        return true;
    }
    buf_.reserve(len);
    buf_.assign(p, p + avail);
    pos += avail;
    return false;
}

}  // namespace zv::iso

// Writes a pcap file of one synthetic TCP connection (Ethernet/IPv4/TCP with
// consistent sequence numbers), so that a dissector can judge bytes that
// never crossed a network.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zv::iso::test {

class PcapWriter {
public:
    PcapWriter(uint16_t clientPort, uint16_t serverPort) : cport_(clientPort), sport_(serverPort) {}

    // Three-way handshake, then segments, then FINs.
    void handshake() {
        segment(true, 0x02, {});   // SYN
        segment(false, 0x12, {});  // SYN, ACK
        segment(true, 0x10, {});   // ACK
    }
    void data(bool fromClient, const std::vector<uint8_t>& payload) {
        // Keep segments below the IPv4 length limit.
        for (std::size_t pos = 0; pos < payload.size(); pos += 60000) {
            std::size_t n = payload.size() - pos < 60000 ? payload.size() - pos : 60000;
            segment(fromClient, 0x18, std::vector<uint8_t>(payload.begin() + pos, payload.begin() + pos + n));
        }
    }
    void close() {
        segment(true, 0x11, {});  // FIN, ACK
        segment(false, 0x11, {});
        segment(true, 0x10, {});
    }

    bool save(const std::string& path) const {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        std::vector<uint8_t> hdr;
        put32le(hdr, 0xa1b2c3d4);
        put16le(hdr, 2);
        put16le(hdr, 4);
        put32le(hdr, 0);
        put32le(hdr, 0);
        put32le(hdr, 65535);
        put32le(hdr, 1);  // Ethernet
        bool ok = std::fwrite(hdr.data(), 1, hdr.size(), f) == hdr.size();
        ok = ok && std::fwrite(buf_.data(), 1, buf_.size(), f) == buf_.size();
        return std::fclose(f) == 0 && ok;
    }

private:
    static void put16le(std::vector<uint8_t>& b, uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    }
    static void put32le(std::vector<uint8_t>& b, uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    }
    static void put16be(std::vector<uint8_t>& b, uint16_t v) {
        b.push_back(uint8_t(v >> 8));
        b.push_back(uint8_t(v));
    }
    static void put32be(std::vector<uint8_t>& b, uint32_t v) {
        for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
    }

    void segment(bool fromClient, uint8_t flags, const std::vector<uint8_t>& payload) {
        uint32_t& seq = fromClient ? cseq_ : sseq_;
        const uint32_t ack = fromClient ? sseq_ : cseq_;
        std::vector<uint8_t> p;
        // Ethernet: zero MACs, IPv4.
        p.insert(p.end(), 12, 0);
        put16be(p, 0x0800);
        // IPv4 header with checksum.
        const std::size_t ip = p.size();
        p.push_back(0x45);
        p.push_back(0);
        put16be(p, uint16_t(20 + 20 + payload.size()));
        put16be(p, ipId_++);
        put16be(p, 0x4000);
        p.push_back(64);
        p.push_back(6);
        put16be(p, 0);
        put32be(p, 0x7f000001);
        put32be(p, 0x7f000001);
        uint32_t sum = 0;
        for (std::size_t i = 0; i < 20; i += 2) sum += (p[ip + i] << 8) | p[ip + i + 1];
        while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
        p[ip + 10] = uint8_t(~sum >> 8);
        p[ip + 11] = uint8_t(~sum);
        // TCP header, checksum left zero.
        put16be(p, fromClient ? cport_ : sport_);
        put16be(p, fromClient ? sport_ : cport_);
        put32be(p, seq);
        put32be(p, (flags & 0x10) ? ack : 0);
        p.push_back(0x50);
        p.push_back(flags);
        put16be(p, 65535);
        put16be(p, 0);
        put16be(p, 0);
        p.insert(p.end(), payload.begin(), payload.end());
        seq += uint32_t(payload.size()) + ((flags & 0x03) ? 1 : 0);  // SYN and FIN take one

        put32le(buf_, 1796630000u);
        put32le(buf_, usec_ += 100);
        put32le(buf_, uint32_t(p.size()));
        put32le(buf_, uint32_t(p.size()));
        buf_.insert(buf_.end(), p.begin(), p.end());
    }

    uint16_t cport_, sport_;
    uint32_t cseq_ = 1000, sseq_ = 5000;
    uint16_t ipId_ = 1;
    uint32_t usec_ = 0;
    std::vector<uint8_t> buf_;
};

}  // namespace zv::iso::test

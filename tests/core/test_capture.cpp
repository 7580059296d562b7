// Capture files read back with libpcap: one packet per record, IPv4 and UDP headers
// from the record's addresses and ports, lengths, checksums and times.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "capture/CaptureFile.h"

using namespace tessaly;

namespace {

struct Packet {
  std::int64_t us;  // time stamp
  std::uint32_t caplen, len;
  Bytes bytes;
};

// Every packet of the file; fails the test on a read error.
std::vector<Packet> readBack(const std::string& path, int* linkType) {
  char err[PCAP_ERRBUF_SIZE] = {};
  pcap_t* p = pcap_open_offline(path.c_str(), err);
  EXPECT_NE(p, nullptr) << err;
  std::vector<Packet> out;
  if (!p) return out;
  *linkType = pcap_datalink(p);
  pcap_pkthdr* h = nullptr;
  const u_char* data = nullptr;
  int rc;
  while ((rc = pcap_next_ex(p, &h, &data)) == 1)
    out.push_back({std::int64_t(h->ts.tv_sec) * 1000000 + h->ts.tv_usec, h->caplen, h->len, Bytes(data, data + h->caplen)});
  EXPECT_EQ(rc, PCAP_ERROR_BREAK) << pcap_geterr(p);
  pcap_close(p);
  return out;
}

std::uint32_t be(const Bytes& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | b[at + i];
  return v;
}

// The one's-complement sum of 16-bit words from `from` on, folded.
std::uint32_t sum(const Bytes& b, std::size_t from, std::size_t n, std::uint32_t s = 0) {
  for (std::size_t i = 0; i < n; i += 2) s += std::uint32_t(b[from + i] << 8 | (i + 1 < n ? b[from + i + 1] : 0));
  while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
  return s;
}

constexpr std::uint32_t kLocal = 0x7F000001, kPeer = 0x7F000002;

TrafficRecord rec(std::int64_t ns, TrafficDirection d, DropReason why, std::size_t kept, std::uint32_t wire) {
  TrafficRecord r;
  r.monotonicNs = ns;
  r.direction = d;
  r.dropReason = why;
  r.localAddress = kLocal;
  r.localPort = 56789;
  r.peerAddress = kPeer;
  r.peerPort = 40000;
  r.wireLength = wire;
  for (std::size_t i = 0; i < kept; ++i) r.data.push_back(std::uint8_t(i * 7 + 1));
  return r;
}

std::string tempPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

}  // namespace

TEST(CaptureFile, RecordsBecomeIpv4UdpPacketsByDirection) {
  const std::int64_t t0 = trafficNow();
  const std::vector<TrafficRecord> records = {
      rec(t0, TrafficDirection::Sent, DropReason::None, 44, 44),
      rec(t0 + 1500000, TrafficDirection::Received, DropReason::None, 27, 27),  // odd length: padded sum
      rec(t0 + 1500000, TrafficDirection::Dropped, DropReason::OtherSender, 26, 26),
      rec(t0 + 9000000, TrafficDirection::Dropped, DropReason::TooLong, 8192, 9000),
      rec(t0 + 9000001, TrafficDirection::Sent, DropReason::None, 0, 0),
  };
  const std::string once = tempPath("tessaly_capture_once.pcap");
  const std::string live = tempPath("tessaly_capture_live.pcap");
  std::string error;
  ASSERT_TRUE(writeCaptureFile(once, records, &error)) << error;
  {
    CaptureFile f;
    ASSERT_TRUE(f.open(live, &error)) << error;
    EXPECT_TRUE(f.isOpen());
    for (const auto& r : records) f.record(r);
    f.close();
    EXPECT_EQ(f.written(), records.size());
    EXPECT_EQ(f.lost(), 0u);
  }
  for (const std::string& path : {once, live}) {
    SCOPED_TRACE(path);
    int link = -1;
    const auto packets = readBack(path, &link);
    EXPECT_EQ(link, DLT_RAW);
    ASSERT_EQ(packets.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      SCOPED_TRACE(i);
      const TrafficRecord& r = records[i];
      const Packet& p = packets[i];
      const bool out = r.direction == TrafficDirection::Sent;
      EXPECT_EQ(p.caplen, 28 + r.data.size());
      EXPECT_EQ(p.len, 28 + r.wireLength);
      ASSERT_GE(p.bytes.size(), 28u);
      EXPECT_EQ(p.bytes[0], 0x45);
      EXPECT_EQ(be(p.bytes, 2, 2), 28 + r.wireLength);
      EXPECT_EQ(p.bytes[8], 64);
      EXPECT_EQ(p.bytes[9], 17);
      EXPECT_EQ(sum(p.bytes, 0, 20), 0xFFFFu) << "IPv4 header checksum";
      EXPECT_EQ(be(p.bytes, 12, 4), out ? kLocal : kPeer);
      EXPECT_EQ(be(p.bytes, 16, 4), out ? kPeer : kLocal);
      EXPECT_EQ(be(p.bytes, 20, 2), out ? 56789u : 40000u);
      EXPECT_EQ(be(p.bytes, 22, 2), out ? 40000u : 56789u);
      EXPECT_EQ(be(p.bytes, 24, 2), 8 + r.wireLength);
      EXPECT_EQ(Bytes(p.bytes.begin() + 28, p.bytes.end()), r.data);
      if (r.dropReason == DropReason::TooLong) {
        EXPECT_EQ(be(p.bytes, 26, 2), 0u) << "no checksum over bytes not kept";
      } else {
        const std::uint32_t pseudo = sum(p.bytes, 12, 8, 17 + 8 + r.wireLength);
        EXPECT_NE(be(p.bytes, 26, 2), 0u);
        EXPECT_EQ(sum(p.bytes, 20, 8 + r.data.size(), pseudo), 0xFFFFu) << "UDP checksum";
      }
      if (i > 0) {
        // Wall-clock times keep the records' spacing and order.
        EXPECT_GE(p.us, packets[i - 1].us);
        EXPECT_NEAR(double(p.us - packets[0].us), double(r.monotonicNs - t0) / 1000, 1.0);
      }
    }
    std::remove(path.c_str());
  }
}

TEST(CaptureFile, UnwritablePathGivesAReason) {
  const std::string path = tempPath("tessaly_no_such_dir/x.pcap");
  std::string error;
  EXPECT_FALSE(writeCaptureFile(path, {}, &error));
  EXPECT_FALSE(error.empty());
  CaptureFile f;
  error.clear();
  EXPECT_FALSE(f.open(path, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(f.isOpen());
  f.record(TrafficRecord{});  // a closed file takes nothing and counts nothing
  EXPECT_EQ(f.written() + f.lost(), 0u);
}

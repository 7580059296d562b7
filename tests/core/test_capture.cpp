// Capture files read back with libpcap: one packet per record, IPv4 and UDP headers
// from the record's addresses and ports, lengths, checksums and times.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

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

namespace {

// What a capture run in a child process came to.
struct Outcome {
  int status = -1;          // the child's wait status
  std::string failure;      // failure() after close, or the open/write error
  std::uint64_t written = 0, lost = 0;
  int handlerCalls = 0;
  long closeMs = 0;
};

// Runs `body` in a child process (with the programs' own signal setup and a guard
// against hanging), the outcome passed back through a pipe.
Outcome inChild(const std::function<void(Outcome&)>& body) {
  int out[2];
  EXPECT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    ::alarm(10);
    ignoreWriteSignals();
    Outcome o;
    body(o);
    const std::string text = o.failure + "\n" + std::to_string(o.written) + " " + std::to_string(o.lost) + " " +
                             std::to_string(o.handlerCalls) + " " + std::to_string(o.closeMs);
    [[maybe_unused]] const auto n = ::write(out[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, std::size_t(n));
  ::close(out[0]);
  Outcome o;
  ::waitpid(pid, &o.status, 0);
  const auto nl = text.find('\n');
  if (nl != std::string::npos) {
    o.failure = text.substr(0, nl);
    std::sscanf(text.c_str() + nl + 1, "%lu %lu %d %ld", &o.written, &o.lost, &o.handlerCalls, &o.closeMs);
  }
  return o;
}

// Records of 1,000 bytes each, `n` of them: five hundred add up past the writer's
// buffer.
std::vector<TrafficRecord> manyRecords(int n) {
  std::vector<TrafficRecord> v;
  for (int i = 0; i < n; ++i) v.push_back(rec(trafficNow() + i, TrafficDirection::Received, DropReason::None, 1000, 1000));
  return v;
}
constexpr std::size_t kPacketOnDisk = 16 + 28 + 1000;

// A live capture of `records` (closed with `limit`), its outcome in `o`.
void liveCapture(const std::string& path, const std::vector<TrafficRecord>& records, Outcome& o,
                 std::chrono::milliseconds limit = CaptureFile::kCloseLimit) {
  CaptureFile f;
  std::string error;
  f.setFailureHandler([&o](const std::string&) { ++o.handlerCalls; });
  if (!f.open(path, &error)) {
    o.failure = "open: " + error;
    return;
  }
  for (const auto& r : records) {
    f.record(r);
    if (&r == &records[records.size() / 2]) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const auto t0 = std::chrono::steady_clock::now();
  f.close(limit);
  o.closeMs = long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
  o.failure = f.failure();
  o.written = f.written();
  o.lost = f.lost();
}

struct TempDir {
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "tessaly_capture_XXXXXX").string();
    path = ::mkdtemp(t.data()) ? t : std::string();
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string file(const char* name) const { return path + "/" + name; }
  std::string path;
};

}  // namespace

// Outputs that fail under the writer: the file-size limit, a reader that goes away
// or stops reading, a FIFO nobody reads, the file that must not be written. The
// program lives on (no SIGXFSZ, no SIGPIPE), the capture stops with one reason and
// a file left behind reads to its end, whole packets only.
TEST(CaptureFile, OutputFaults) {
  struct Row {
    const char* name;
    std::function<void(const TempDir&, Outcome&)> run;
    const char* failure;       // in the reason given
    long minPackets, maxPackets;  // in the file left behind (-1: no file to read)
  };
  constexpr long kLimit = 2500000;  // bytes, the file-size limit: two buffers and a half
  const long fitting = (kLimit - 24) / long(kPacketOnDisk);
  const std::vector<Row> rows = {
      {"file-size limit, live",
       [](const TempDir& d, Outcome& o) {
         const rlimit l{kLimit, kLimit};
         ::setrlimit(RLIMIT_FSIZE, &l);
         liveCapture(d.file("c.pcap"), manyRecords(5000), o);
       },
       "File too large", fitting - long((1u << 20) / kPacketOnDisk), fitting},
      {"file-size limit, at once",
       [](const TempDir& d, Outcome& o) {
         const rlimit l{kLimit, kLimit};
         ::setrlimit(RLIMIT_FSIZE, &l);
         std::string error;
         o.handlerCalls = writeCaptureFile(d.file("c.pcap"), manyRecords(5000), &error) ? 0 : 1;
         o.failure = error;
       },
       "File too large", fitting - long((1u << 20) / kPacketOnDisk), fitting},
      {"reader went away",
       [](const TempDir& d, Outcome& o) {
         ::mkfifo(d.file("c.pcap").c_str(), 0600);
         const int reader = ::open(d.file("c.pcap").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
         CaptureFile f;
         std::string error;
         f.setFailureHandler([&o](const std::string&) { ++o.handlerCalls; });
         if (!f.open(d.file("c.pcap"), &error)) o.failure = "open: " + error;
         ::close(reader);
         for (const auto& r : manyRecords(10)) f.record(r);
         f.close();
         o.failure += f.failure();
         o.written = f.written();
         o.lost = f.lost();
       },
       "Broken pipe", -1, -1},
      {"reader stopped reading",
       [](const TempDir& d, Outcome& o) {
         ::mkfifo(d.file("c.pcap").c_str(), 0600);
         const int reader = ::open(d.file("c.pcap").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
         liveCapture(d.file("c.pcap"), manyRecords(500), o, std::chrono::milliseconds(200));
         o.handlerCalls = o.closeMs < 1000 ? o.handlerCalls : -1;  // abandoned within the limit, not after
         ::close(reader);
       },
       "its reader stopped reading", -1, -1},
      {"FIFO without a reader",
       [](const TempDir& d, Outcome& o) {
         ::mkfifo(d.file("c.pcap").c_str(), 0600);
         liveCapture(d.file("c.pcap"), manyRecords(1), o);
         std::string error;
         if (!writeCaptureFile(d.file("c.pcap"), {}, &error)) o.failure += " / " + error;
         o.handlerCalls = 1;
       },
       "open: it is a FIFO that nothing reads from / it is a FIFO that nothing reads from", -1, -1},
      {"the file not to be written, through a link",
       [](const TempDir& d, Outcome& o) {
         std::FILE* s = std::fopen(d.file("Settings.ini").c_str(), "w");
         std::fputs("[Main]\nIPExt=1\n", s);
         std::fclose(s);
         ::symlink("Settings.ini", d.file("c.pcap").c_str());
         CaptureFile f;
         std::string error;
         EXPECT_FALSE(f.open(d.file("c.pcap"), &error, d.file("Settings.ini")));
         o.failure = error;
         o.handlerCalls = 1;
         std::FILE* r = std::fopen(d.file("Settings.ini").c_str(), "r");
         char buf[64] = {};
         o.written = std::fread(buf, 1, sizeof buf, r);  // untouched: 16 bytes
         std::fclose(r);
       },
       "it is the same file as ", -1, -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const Outcome o = inChild([&](Outcome& out) { row.run(dir, out); });
    ASSERT_TRUE(WIFEXITED(o.status)) << "ended by signal " << (WIFSIGNALED(o.status) ? WTERMSIG(o.status) : 0);
    EXPECT_NE(o.failure.find(row.failure), std::string::npos) << o.failure;
    EXPECT_EQ(o.handlerCalls, 1) << "the failure is reported once";
    if (row.minPackets < 0) continue;
    int link = -1;
    const auto packets = readBack(dir.file("c.pcap"), &link);  // fails on a cut packet
    EXPECT_GE(long(packets.size()), row.minPackets);
    EXPECT_LE(long(packets.size()), row.maxPackets);
    if (std::string(row.name).find("live") != std::string::npos) {
      EXPECT_EQ(o.written, packets.size());
      EXPECT_EQ(o.written + o.lost, 5000u);
    }
  }
}

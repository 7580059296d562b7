#include "capture/CaptureFile.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace tessaly {

namespace {

constexpr int kSnapLength = 65535;
constexpr std::size_t kHeaders = 20 + 8;  // IPv4 without options, UDP
// The stream buffer: a packet is flushed before it would overflow the buffer, so
// the file on disk never ends inside a packet.
constexpr std::size_t kBuffer = 1u << 20;
constexpr std::size_t kRecordHeader = 16;  // pcap's per-packet header on disk

void put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v >> 16);
  put16(b, at + 2, v & 0xFFFF);
}

// The one's-complement sum of 16-bit words, folded (not yet inverted).
std::uint32_t sum16(const std::uint8_t* p, std::size_t n, std::uint32_t sum) {
  for (std::size_t i = 0; i + 1 < n; i += 2) sum += static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
  if (n % 2) sum += static_cast<std::uint32_t>(p[n - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum;
}

// The packet a record becomes: IPv4 header, UDP header and the bytes kept. With
// fewer bytes kept than the datagram had, the UDP checksum is 0 (none): it cannot
// be computed. `fullLength` is the length the whole datagram's packet has.
Bytes packetOf(const TrafficRecord& r, std::uint32_t* fullLength) {
  const bool outgoing = r.direction == TrafficDirection::Sent;
  const std::uint32_t src = outgoing ? r.localAddress : r.peerAddress;
  const std::uint32_t dst = outgoing ? r.peerAddress : r.localAddress;
  const std::uint16_t srcPort = outgoing ? r.localPort : r.peerPort;
  const std::uint16_t dstPort = outgoing ? r.peerPort : r.localPort;
  const std::size_t kept = std::min<std::size_t>(r.data.size(), kSnapLength - kHeaders);
  const std::uint32_t datagram = std::max<std::uint32_t>(r.wireLength, static_cast<std::uint32_t>(r.data.size()));
  const std::uint32_t udpLength = std::min<std::uint32_t>(datagram + 8, 0xFFFF);
  const std::uint32_t ipLength = std::min<std::uint32_t>(datagram + kHeaders, 0xFFFF);
  *fullLength = datagram + static_cast<std::uint32_t>(kHeaders);

  Bytes p(kHeaders + kept, 0);
  p[0] = 0x45;  // version 4, header of five words
  put16(p, 2, ipLength);
  p[8] = 64;  // time to live
  p[9] = 17;  // UDP
  put32(p, 12, src);
  put32(p, 16, dst);
  put16(p, 10, ~sum16(p.data(), 20, 0) & 0xFFFF);
  put16(p, 20, srcPort);
  put16(p, 22, dstPort);
  put16(p, 24, udpLength);
  if (kept) std::memcpy(p.data() + kHeaders, r.data.data(), kept);
  if (kept == datagram) {
    // Over the pseudo header (addresses, protocol, UDP length), the UDP header and data.
    std::uint32_t sum = sum16(p.data() + 12, 8, 17 + udpLength);
    sum = sum16(p.data() + 20, 8 + kept, sum);
    std::uint16_t check = static_cast<std::uint16_t>(~sum & 0xFFFF);
    put16(p, 26, check == 0 ? 0xFFFF : check);  // 0 would mean "no checksum"
  }
  return p;
}

}  // namespace

// The open file: the pcap handle, its stream and the clock that maps the records'
// monotonic times to wall-clock times.
class CaptureFile::Writer {
 public:
  ~Writer() {
    if (dumper_) pcap_dump_close(dumper_);  // closes the stream too
    if (pcap_) pcap_close(pcap_);
  }

  bool open(const std::string& path, std::string* error) {
    const auto fail = [&](const std::string& why) {
      if (error) *error = why;
      return false;
    };
    pcap_ = pcap_open_dead(DLT_RAW, kSnapLength);
    if (!pcap_) return fail("cannot start a capture");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return fail(std::strerror(errno));
    // A buffer of our own: without one the library picks its size and ignores ours.
    buffer_.resize(kBuffer);
    std::setvbuf(f, buffer_.data(), _IOFBF, buffer_.size());
    dumper_ = pcap_dump_fopen(pcap_, f);
    if (!dumper_) {
      std::fclose(f);
      return fail(pcap_geterr(pcap_));
    }
    wallAtOpen_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    monotonicAtOpen_ = trafficNow();
    // The file header on disk at once: even a capture that sees nothing opens.
    return flush() || fail(std::strerror(errno));
  }

  void write(const TrafficRecord& r) {
    std::uint32_t full = 0;
    const Bytes packet = packetOf(r, &full);
    if (buffered_ + kRecordHeader + packet.size() > kBuffer) flush();
    const std::int64_t ns = wallAtOpen_ + (r.monotonicNs - monotonicAtOpen_);
    pcap_pkthdr h{};
    h.ts.tv_sec = static_cast<decltype(h.ts.tv_sec)>(ns / 1000000000);
    h.ts.tv_usec = static_cast<decltype(h.ts.tv_usec)>(ns % 1000000000 / 1000);
    h.caplen = static_cast<bpf_u_int32>(packet.size());
    h.len = full;
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &h, packet.data());
    buffered_ += kRecordHeader + packet.size();
  }

  bool flush() {
    buffered_ = 0;
    return pcap_dump_flush(dumper_) == 0 && !std::ferror(pcap_dump_file(dumper_));
  }

 private:
  pcap_t* pcap_ = nullptr;
  pcap_dumper_t* dumper_ = nullptr;
  std::vector<char> buffer_;  // the stream's buffer; outlives the stream
  std::int64_t wallAtOpen_ = 0;
  std::int64_t monotonicAtOpen_ = 0;
  std::size_t buffered_ = 0;
};

CaptureFile::CaptureFile() = default;

CaptureFile::~CaptureFile() { close(); }

bool CaptureFile::open(const std::string& path, std::string* error) {
  close();
  auto writer = std::make_unique<Writer>();
  if (!writer->open(path, error)) return false;
  writer_ = std::move(writer);
  written_ = 0;
  lost_ = 0;
  stop_ = false;
  open_ = true;
  thread_ = std::thread([this] { run(); });
  return true;
}

void CaptureFile::record(const TrafficRecord& r) {
  if (!open_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kMaxQueued || queuedBytes_ + r.data.size() > kMaxQueuedBytes) {
      ++lost_;
      return;
    }
    queue_.push_back(r);
    queuedBytes_ += r.data.size();
  }
  wake_.notify_one();
}

void CaptureFile::close() {
  if (!open_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
  writer_.reset();
  open_ = false;
}

// The writer thread: takes what is queued, writes it, flushes, until told to stop
// with the queue empty.
void CaptureFile::run() {
  std::deque<TrafficRecord> batch;
  bool failed = false;
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and everything is written
      batch.swap(queue_);
      queuedBytes_ = 0;
    }
    if (failed) {
      lost_ += batch.size();
    } else {
      for (const TrafficRecord& r : batch) writer_->write(r);
      if (writer_->flush()) {
        written_ += batch.size();
      } else {
        failed = true;  // a full disk or a lost file: what follows is lost too
        lost_ += batch.size();
      }
    }
    batch.clear();
  }
}

bool writeCaptureFile(const std::string& path, const std::vector<TrafficRecord>& records, std::string* error) {
  CaptureFile::Writer w;
  if (!w.open(path, error)) return false;
  for (const TrafficRecord& r : records) w.write(r);
  if (w.flush()) return true;
  if (error) *error = std::strerror(errno);
  return false;
}

}  // namespace tessaly

#include "capture/CaptureFile.h"

#include <pcap/pcap.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace tessaly {

namespace {

constexpr int kSnapLength = 65535;
constexpr std::size_t kHeaders = 20 + 8;  // IPv4 without options, UDP
// What is gathered before it goes to the file: a packet that would overflow it
// sends what came before to the file first, so every write ends on a whole packet.
constexpr std::size_t kBuffer = 1u << 20;
// How long a write waits for a reader that takes nothing before it looks again
// whether it was abandoned.
constexpr int kPollMs = 100;
constexpr const char* kStalled = "its reader stopped reading";
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

// The open file: the pcap handle writing into memory, the bytes not yet in the file
// and the clock that maps the records' monotonic times to wall-clock times. The file
// is written with write(2) only, whole packets at a time; after a write error it is
// cut back to the last whole packet.
class CaptureFile::Writer {
 public:
  ~Writer() {
    if (dumper_) pcap_dump_close(dumper_);  // closes the memory stream
    if (pcap_) pcap_close(pcap_);
    for (int fd : {fd_, wake_[0], wake_[1]})
      if (fd >= 0) ::close(fd);
  }

  bool open(const std::string& path, const std::string& notSameAs, std::string* error) {
    const auto refuse = [&](const std::string& why) {
      if (error) *error = why;
      return false;
    };
    struct stat other {};
    const bool otherExisted = !notSameAs.empty() && ::stat(notSameAs.c_str(), &other) == 0;
    // Without waiting for a reader, and without truncating before it is known what
    // the file is.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      const int e = errno;
      struct stat st {};
      if (e == ENXIO && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode))
        return refuse("it is a FIFO that nothing reads from");
      return refuse(std::strerror(e));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return refuse(std::strerror(errno));
    if (!notSameAs.empty() && ::stat(notSameAs.c_str(), &other) == 0 && other.st_dev == st.st_dev &&
        other.st_ino == st.st_ino) {
      if (!otherExisted) ::unlink(notSameAs.c_str());  // made by this open: gone again
      return refuse("it is the same file as " + notSameAs);
    }
    regular_ = S_ISREG(st.st_mode);
    if (regular_ && ::ftruncate(fd_, 0) != 0) return refuse(std::strerror(errno));
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return refuse(std::strerror(errno));

    pcap_ = pcap_open_dead(DLT_RAW, kSnapLength);
    if (!pcap_) return refuse("cannot start a capture");
    cookie_io_functions_t io{};
    io.write = [](void* self, const char* data, std::size_t n) -> ssize_t {
      static_cast<Writer*>(self)->pending_.append(data, n);
      return static_cast<ssize_t>(n);
    };
    std::FILE* f = fopencookie(this, "w", io);
    if (!f) return refuse(std::strerror(errno));
    std::setvbuf(f, nullptr, _IONBF, 0);  // every byte straight into pending_
    pending_.reserve(kBuffer);
    dumper_ = pcap_dump_fopen(pcap_, f);
    if (!dumper_) {
      std::fclose(f);
      return refuse(pcap_geterr(pcap_));
    }
    wallAtOpen_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    monotonicAtOpen_ = trafficNow();
    // The file header in the file at once: even a capture that sees nothing opens.
    const int stall = stallMs_;
    stallMs_ = 1000;
    const bool ok = flush();
    stallMs_ = stall;
    return ok || refuse(why_);
  }

  void write(const TrafficRecord& r) {
    if (failed_) return;
    std::uint32_t full = 0;
    const Bytes packet = packetOf(r, &full);
    if (pending_.size() + kRecordHeader + packet.size() > kBuffer && !flush()) return;
    const std::int64_t ns = wallAtOpen_ + (r.monotonicNs - monotonicAtOpen_);
    pcap_pkthdr h{};
    h.ts.tv_sec = static_cast<decltype(h.ts.tv_sec)>(ns / 1000000000);
    h.ts.tv_usec = static_cast<decltype(h.ts.tv_usec)>(ns % 1000000000 / 1000);
    h.caplen = static_cast<bpf_u_int32>(packet.size());
    h.len = full;
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &h, packet.data());
    ++pendingPackets_;
  }

  // Everything gathered into the file; false (for good) on a write error.
  bool flush() {
    if (failed_) return false;
    std::size_t done = 0;
    auto progress = std::chrono::steady_clock::now();
    while (done < pending_.size()) {
      const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        progress = std::chrono::steady_clock::now();
        continue;
      }
      const int e = n < 0 ? errno : EIO;
      if (e == EINTR) continue;
      if (e != EAGAIN && e != EWOULDBLOCK) return stop(std::strerror(e));
      // A pipe or socket that is full: wait for room, for abandon() or the stall limit.
      if (abandoned_) return stop(kStalled);
      int wait = kPollMs;
      if (stallMs_ >= 0) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - progress)
                                .count();
        if (waited >= stallMs_) return stop(kStalled);
        wait = std::min<int>(wait, static_cast<int>(stallMs_ - waited));
      }
      pollfd p[2] = {{fd_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
      ::poll(p, 2, wait);
    }
    committed_ += pending_.size();
    committedPackets_ += pendingPackets_;
    pending_.clear();
    pendingPackets_ = 0;
    return true;
  }

  // From another thread: a write waiting for a reader gives up at once.
  void abandon() {
    abandoned_ = true;
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(wake_[1], &c, 1);
  }

  void setStallLimit(int ms) { stallMs_ = ms; }
  bool failed() const { return failed_; }
  const std::string& why() const { return why_; }
  std::uint64_t packets() const { return committedPackets_; }  // whole packets in the file

 private:
  bool stop(const std::string& why) {
    failed_ = true;
    why_ = why;
    // Whatever of the last write reached the file goes again: it ends on a whole packet.
    if (regular_ && ::ftruncate(fd_, static_cast<off_t>(committed_)) != 0)
      why_ += " (and the file could not be cut back to its last whole packet)";
    pending_.clear();
    pendingPackets_ = 0;
    return false;
  }

  int fd_ = -1;
  bool regular_ = false;
  int wake_[2] = {-1, -1};
  std::atomic<bool> abandoned_{false};
  int stallMs_ = -1;  // how long a write waits for a reader that takes nothing; -1: until abandoned
  pcap_t* pcap_ = nullptr;
  pcap_dumper_t* dumper_ = nullptr;
  std::string pending_;  // whole packets not yet in the file
  std::uint64_t pendingPackets_ = 0;
  std::uint64_t committed_ = 0;  // bytes in the file
  std::uint64_t committedPackets_ = 0;
  bool failed_ = false;
  std::string why_;
  std::int64_t wallAtOpen_ = 0;
  std::int64_t monotonicAtOpen_ = 0;
};

CaptureFile::CaptureFile() = default;

CaptureFile::~CaptureFile() { close(); }

bool CaptureFile::open(const std::string& path, std::string* error, const std::string& notSameAs) {
  close();
  auto writer = std::make_unique<Writer>();
  if (!writer->open(path, notSameAs, error)) return false;
  writer_ = std::move(writer);
  written_ = 0;
  lost_ = 0;
  stop_ = false;
  finished_ = false;
  failure_.clear();
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

bool CaptureFile::close(std::chrono::milliseconds limit) {
  if (!open_) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  stop_ = true;
  wake_.notify_one();
  const bool finished = done_.wait_for(lock, limit, [this] { return finished_; });
  lock.unlock();
  if (!finished) writer_->abandon();  // a reader that takes nothing: the rest is lost
  thread_.join();
  writer_.reset();
  open_ = false;
  return failure().empty();
}

std::string CaptureFile::failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

void CaptureFile::fail(const std::string& why) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = why;
  }
  if (onFailure_) onFailure_(why);
}

// The writer thread: takes what is queued, writes it, until told to stop with the
// queue empty. After a write error what comes is counted as lost.
void CaptureFile::run() {
  std::deque<TrafficRecord> batch;
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) break;  // stopping, and everything is written
      batch.swap(queue_);
      queuedBytes_ = 0;
    }
    const bool failedBefore = writer_->failed();
    const std::uint64_t before = writer_->packets();
    for (const TrafficRecord& r : batch) writer_->write(r);
    writer_->flush();
    const std::uint64_t now = writer_->packets();
    written_ = now;
    lost_ += batch.size() - (now - before);
    if (writer_->failed() && !failedBefore) fail(writer_->why());
    batch.clear();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
}

bool writeCaptureFile(const std::string& path, const std::vector<TrafficRecord>& records, std::string* error) {
  CaptureFile::Writer w;
  w.setStallLimit(1000);
  if (!w.open(path, {}, error)) return false;
  for (const TrafficRecord& r : records) w.write(r);
  if (w.flush()) return true;
  if (error) *error = w.why();
  return false;
}

void ignoreWriteSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace tessaly

#pragma once
// Capture files that Wireshark and tshark read: the records a tap sees, each one
// datagram as an IPv4 packet with its UDP header, in the pcap format (raw IP link).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/Traffic.h"

namespace tessaly {

// Writes records as a pcap file: each datagram one packet with IPv4 and UDP
// headers built from its addresses and ports (sent: local→peer; received and
// dropped: peer→local), timestamps in wall-clock time.
//
// record() only queues: a writer thread of its own writes the queue, batch by batch,
// so the file on disk always ends on a whole packet and a killed process leaves a
// readable file. A full queue (kMaxQueued records or kMaxQueuedBytes of data) loses
// the record and counts it.
//
// Opening never waits: a FIFO that nobody reads is refused. A write error (a full
// disk, the file-size limit, a reader that went away) stops the capture: the file is
// cut back to its last whole packet, failure() says why and the failure handler is
// called once, on the writer thread. Closing waits for a stalled reader (a FIFO or
// socket that takes nothing) at most the limit given, then abandons the rest.
class CaptureFile : public TrafficTap {
 public:
  static constexpr std::size_t kMaxQueued = 100000;
  static constexpr std::size_t kMaxQueuedBytes = 64u << 20;
  static constexpr std::chrono::milliseconds kCloseLimit{800};

  CaptureFile();
  ~CaptureFile() override;  // closes (flushes everything recorded, within kCloseLimit)
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Creates or truncates `path`. With `notSameAs` given, a path that names that same
  // file (through any name or link) is refused and left untouched.
  bool open(const std::string& path, std::string* error, const std::string& notSameAs = {});
  bool isOpen() const { return open_; }
  void record(const TrafficRecord& r) override;  // O(1), never blocks
  // Writes what is queued and closes; true when nothing failed or was abandoned.
  bool close(std::chrono::milliseconds limit = kCloseLimit);
  std::uint64_t written() const { return written_.load(); }  // packets written so far
  std::uint64_t lost() const { return lost_.load(); }        // records not written (queue full, write error)
  // Why the capture stopped ("" while it runs or ran to its end).
  std::string failure() const;
  // Called once when the capture stops on a write error, on the writer thread.
  void setFailureHandler(std::function<void(const std::string&)> handler) { onFailure_ = std::move(handler); }

  class Writer;  // the open file and its clock

 private:
  void run();
  void fail(const std::string& why);

  std::unique_ptr<Writer> writer_;
  bool open_ = false;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<TrafficRecord> queue_;
  std::size_t queuedBytes_ = 0;
  bool stop_ = false;
  bool finished_ = false;
  std::string failure_;
  std::function<void(const std::string&)> onFailure_;
  std::thread thread_;
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> lost_{0};
};

// Writes the records at once (the traffic view's Save); false with a reason. A
// reader that takes nothing for a second is given up on.
bool writeCaptureFile(const std::string& path, const std::vector<TrafficRecord>& records, std::string* error);

// SIGPIPE and SIGXFSZ ignored: a reader that went away or the file-size limit then
// make a write fail with EPIPE or EFBIG, reported like any other error, instead of
// ending the program. Called first thing by each program.
void ignoreWriteSignals();

}  // namespace tessaly

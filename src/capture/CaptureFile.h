#pragma once
// Capture files that Wireshark and tshark read: the records a tap sees, each one
// datagram as an IPv4 packet with its UDP header, in the pcap format (raw IP link).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
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
// and flushes after each batch, so the file on disk always ends on a whole packet
// and a killed process leaves a readable file. A full queue (kMaxQueued records or
// kMaxQueuedBytes of data) loses the record and counts it.
class CaptureFile : public TrafficTap {
 public:
  static constexpr std::size_t kMaxQueued = 100000;
  static constexpr std::size_t kMaxQueuedBytes = 64u << 20;

  CaptureFile();
  ~CaptureFile() override;  // closes (flushes everything recorded)
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  bool open(const std::string& path, std::string* error);  // creates/truncates
  bool isOpen() const { return open_; }
  void record(const TrafficRecord& r) override;  // O(1), never blocks
  void close();
  std::uint64_t written() const { return written_.load(); }  // packets written so far
  std::uint64_t lost() const { return lost_.load(); }        // records not written (queue full, write error)

  class Writer;  // the open file and its clock

 private:
  void run();

  std::unique_ptr<Writer> writer_;
  bool open_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TrafficRecord> queue_;
  std::size_t queuedBytes_ = 0;
  bool stop_ = false;
  std::thread thread_;
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> lost_{0};
};

// Writes the records at once (the traffic view's Save); false with a reason.
bool writeCaptureFile(const std::string& path, const std::vector<TrafficRecord>& records, std::string* error);

}  // namespace tessaly

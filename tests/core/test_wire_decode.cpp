#include <gtest/gtest.h>

#include "instructions/GeneralInstructions.h"
#include "instructions/PageInstructions.h"
#include "link/Framing.h"
#include "mfgtest/MfgMessages.h"
#include "wire/AnswerMatch.h"
#include "wire/DatagramDecode.h"
#include "wire/TrafficLog.h"

using namespace tessaly;

namespace {

Bytes statusAnswer(Framing framing, std::uint8_t presence, std::uint8_t code) {
  Bytes a = framing == Framing::CwNet ? bytesOf("CW-Net") : bytesOf("DDToIPQuillmarsh  SDI");
  if (framing == Framing::CwNet) {
    a.push_back(kCwNetReadCode);
    a.push_back(1);
  } else {
    for (std::uint8_t b : {std::uint8_t{0x01}, kStatusAnswerCode, std::uint8_t{0x04}, std::uint8_t{0x01}}) a.push_back(b);
  }
  Bytes blk(kStatusBlockSize, 0);
  blk[block::Presence] = presence;
  blk[block::DeviceCode] = code;
  blk[block::Serial + 3] = 77;
  append(a, blk);
  return a;
}

// The innermost (last) field of that name.
const WireField* findField(const WireDecode& d, const std::string& name) {
  const WireField* found = nullptr;
  for (const auto& f : d.fields)
    if (f.name == name) found = &f;
  return found;
}

Bytes withTruncatedLength() {
  // One instruction claims 500 data bytes where 2 follow.
  Bytes d = setTypeInstruction(7).datagram(Framing::DDToIP, 2);
  d[d.size() - 4] = 0x01;
  d[d.size() - 3] = 0xF4;
  return d;
}

// A DEL byte (0x7F) in the label and in the user text: not printable.
Bytes withDelBytes() {
  LabelledInstruction i = setUserTextInstruction("x\x7Fy");
  i.label[2] = '\x7F';
  return i.datagram(Framing::DDToIP, 1);
}

}  // namespace

TEST(WireDecode, OneLineAndKeyFields) {
  MfgInputs mfg;
  const struct {
    const char* what;
    bool sent;  // by the panel; false: received
    Bytes datagram;
    const char* line;
    const char* field;  // a field that must be there ("" for none), with its value
    const char* value;
  } rows[] = {
      {"DDToIP read", true, encodeReadDatagram(Framing::DDToIP, 1), "DDToIP read, SDI 1, 1024 bytes", "bytes to read", "1024"},
      {"CW-Net read", true, encodeReadDatagram(Framing::CwNet, 15), "CW-Net read, SDI 15", "SDI address", "15"},
      {"housekeeping", true, setSerialInstruction(56765).datagram(Framing::DDToIP, 3),
       "DDToIP forward, SDI 3: 'Set Serial Num ': h10 set serial number 56765", "data length", "4"},
      {"CW-Net load", true, resetInstruction().datagram(Framing::CwNet, 2),
       "CW-Net load, SDI 2: 'Set Type       ': h01 reset", "code", "h01"},
      {"PID filter", true, writePidFilterInstruction(2, 256, 256).datagram(Framing::DDToIP, 1),
       "DDToIP forward, SDI 1: 'Write PIDFilter': hE0 operation h11 write PID filter entry, units h01, TS2 PID 256 word hC100",
       "operation", "h11 write PID filter entry"},
      {"PSI", true, readPsiInstruction(16).datagram(Framing::DDToIP, 1),
       "DDToIP forward, SDI 1: 'Read  PSI      ': hE0 operation h25 read PSI flash, units h01, address 16", "unit mask",
       "h01"},
      {"PCR", true, setPcrCorrectorInstruction(true, false).datagram(Framing::DDToIP, 1),
       "DDToIP forward, SDI 1: 'Set PCR Correct': hE0 operation h30 PCR corrector mode h01", "", ""},
      {"DDToIP status", false, statusAnswer(Framing::DDToIP, kDevicePresent, kRemuxDeviceCode),
       "DDToIP status answer, device h1A", "serial number", "77"},
      {"CW-Net status", false, statusAnswer(Framing::CwNet, kDevicePresent, kRemuxDeviceCode),
       "CW-Net status answer, SDI 1, device h1A", "device code", "h1A (ASI Remultiplexer)"},
      {"no device", false, statusAnswer(Framing::DDToIP, 0, 0), "DDToIP status answer, no device (presence h00, code h00)",
       "presence", "h00 (no device)"},
      {"CW-Net no device", false, statusAnswer(Framing::CwNet, 0, 0),
       "CW-Net status answer, SDI 1, no device (presence h00, code h00)", "status block", "1024 bytes"},
      {"notice", false, encodeSdiMessage("Set Type       ", encodeInstruction(kNoticeCode, Bytes{1})),
       "DDToIP interrupt notice, SDI 1", "", ""},
      {"short", false, Bytes{1, 2, 3}, "interrupt notice", "notice", "01 02 03"},
      {"mfg", true, mfgErasePollMessage(), "direct-port message 'Quillmarsh  ACK': h03 status request", "", ""},
      {"mfg configuration", true, mfgConfigurationMessage(mfg),
       "direct-port message 'Quillmarsh  ACK': h40 NCO frequency unit 1, 2000000 Hz, h40 NCO frequency unit 2, "
       "2000000 Hz, h40 NCO frequency unit 3, 2000000 Hz, h40 NCO frequency unit 4, 2000000 Hz, hE0 operation h27 "
       "stream format, units h0F h80, hE0 operation h15 test stream port 57000, hE0 operation h10 general filter, "
       "units h02, hE0 operation h01 test stream on, hE0 operation h20 set sector, units h0F, hE0 operation h20 set "
       "sector, units h0F, hE0 operation h20 set sector, units h0F, hE0 operation h20 set sector, units h0F, hE0 "
       "operation h30 PCR corrector mode h00, hE0 operation h31 test PCR PID, units h0F 151, hE0 operation h02 test "
       "stream address, hE0 operation h03 test stream join, h03 status request",
       "frequency", "2000000 Hz"},
      {"truncated", true, withTruncatedLength(),
       "DDToIP forward, SDI 2: 'Set Type       ': h11 set type (length 500 exceeds the datagram)", "data length",
       "500 (length 500 exceeds the datagram)"},
      {"random", false, Bytes(40, 0xA5), "unknown", "data", nullptr},
      {"DEL in label and user text", true, withDelBytes(),
       "DDToIP forward, SDI 1: 'Se. User Text  ': h12 set user text 'x.y............'", "label", "'Se. User Text  '"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const WireSide side = r.sent ? WireSide::Sent : WireSide::Received;
    EXPECT_EQ(summarizeDatagram(r.datagram, side), r.line);
    const WireDecode d = decodeDatagram(r.datagram.data(), r.datagram.size(), side);
    EXPECT_EQ(d.summary, r.line);
    for (const auto& f : d.fields) EXPECT_LE(f.offset + f.length, r.datagram.size()) << f.name;
    // The outermost fields divide the datagram: none lies over another.
    for (std::size_t i = 0; i < d.fields.size(); ++i)
      for (std::size_t j = i + 1; j < d.fields.size(); ++j) {
        const WireField &a = d.fields[i], &b = d.fields[j];
        if (a.depth == 0 && b.depth == 0 && a.length && b.length) {
          EXPECT_TRUE(a.offset + a.length <= b.offset || b.offset + b.length <= a.offset) << a.name << " / " << b.name;
        }
      }
    if (*r.field) {
      const WireField* f = findField(d, r.field);
      ASSERT_NE(f, nullptr);
      if (r.value) {
        EXPECT_EQ(f->value, r.value);
      }
    }
  }
}

// Every prefix of real datagrams decodes without reading past its end (the
// sanitizer build catches a stray read) and says something.
TEST(WireDecode, EveryPrefixStaysInside) {
  const Bytes sources[] = {mfgProgrammingMessage(MfgInputs{}), statusAnswer(Framing::CwNet, 0x45, 0x1A),
                           setUserTextInstruction("abc").datagram(Framing::DDToIP, 4)};
  for (const Bytes& s : sources)
    for (std::size_t n = 0; n <= s.size(); ++n) {
      const Bytes part(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
      const WireDecode d = decodeDatagram(part.data(), part.size());
      EXPECT_FALSE(d.summary.empty());
      for (const auto& f : d.fields) EXPECT_LE(f.offset + f.length, n) << f.name;
    }
}

TEST(TrafficLog, KeepsTheNewestWithinCountAndBytes) {
  TrafficLog log(3, 100);
  auto rec = [](std::size_t bytes, TrafficDirection dir) {
    TrafficRecord r;
    r.direction = dir;
    r.data = Bytes(bytes, 0);
    return r;
  };
  log.record(rec(10, TrafficDirection::Dropped));
  log.record(rec(10, TrafficDirection::Sent));
  log.record(rec(10, TrafficDirection::Sent));
  log.record(rec(10, TrafficDirection::Received));  // over the count: the dropped one goes
  EXPECT_EQ(log.firstSeq(), 2u);
  EXPECT_EQ(log.endSeq(), 5u);
  EXPECT_EQ(log.droppedCount(), 0u);
  log.record(rec(95, TrafficDirection::Dropped));  // over the bytes: all but it go
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(log.dataBytes(), 95u);
  EXPECT_EQ(log.droppedCount(), 1u);
  EXPECT_EQ(log.find(4), nullptr);
  ASSERT_NE(log.find(5), nullptr);
  TrafficRecord cut = rec(3, TrafficDirection::Dropped);
  cut.dropReason = DropReason::TooLong;
  cut.wireLength = 9000;
  EXPECT_EQ(summarizeRecord(cut), "dropped (too long, 3 of 9000 bytes kept): interrupt notice");
  cut.dropReason = DropReason::OtherSender;
  cut.wireLength = 3;
  EXPECT_EQ(summarizeRecord(cut), "dropped (other sender): interrupt notice");
  cut.dropReason = DropReason::OtherBoard;
  EXPECT_EQ(summarizeRecord(cut), "dropped (other board): interrupt notice");
  log.record(rec(150, TrafficDirection::Sent));  // larger than the whole budget: kept alone
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(log.dataBytes(), 150u);
  EXPECT_EQ(log.droppedCount(), 0u);
  ASSERT_NE(log.find(6), nullptr);
  log.record(rec(1, TrafficDirection::Sent));  // and the next one pushes it out
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(log.dataBytes(), 1u);
  log.clear();
  EXPECT_EQ(log.size(), 0u);
  EXPECT_EQ(log.firstSeq(), 8u);  // numbers go on after a clear
}

// An answer is timed from the last request sent to its sender's address and port,
// from the port it came in at, in its framing; one without a magic from the last
// request in either framing.
TEST(AnswerMatcher, PairsByEndpointsAndFraming) {
  const Bytes dd = bytesOf("DDToIP-"), cw = bytesOf("CW-Net-"), bare{1, 2, 3};
  auto rec = [](TrafficDirection dir, std::int64_t ms, const Bytes& d, std::uint16_t peerPort = 56789,
                std::uint16_t localPort = 40000, std::uint32_t peer = 0x7F000001) {
    TrafficRecord r;
    r.direction = dir;
    r.monotonicNs = ms * 1000000;
    r.data = d;
    r.peerAddress = peer;
    r.peerPort = peerPort;
    r.localPort = localPort;
    return r;
  };
  const auto S = TrafficDirection::Sent, R = TrafficDirection::Received, D = TrafficDirection::Dropped;
  const struct {
    const char* what;
    std::vector<TrafficRecord> records;
    std::int64_t lastMs;  // what the last record gives, in ms (-1: no request)
  } rows[] = {
      {"answer", {rec(S, 10, dd), rec(R, 13, dd)}, 3},
      {"the later request", {rec(S, 10, dd), rec(S, 20, dd), rec(R, 25, dd)}, 5},
      {"other framing", {rec(S, 10, dd), rec(R, 13, cw)}, -1},
      {"framing kept apart", {rec(S, 10, cw), rec(S, 20, dd), rec(R, 25, cw)}, 15},
      {"bare notice, either framing", {rec(S, 10, cw), rec(S, 20, dd), rec(R, 26, bare)}, 6},
      {"other peer port", {rec(S, 10, dd), rec(R, 13, dd, 56790)}, -1},
      {"other local port", {rec(S, 10, dd), rec(R, 13, dd, 56789, 40001)}, -1},
      {"other peer address", {rec(S, 10, dd), rec(R, 13, dd, 56789, 40000, 0x7F000002)}, -1},
      {"dropped", {rec(S, 10, dd), rec(D, 13, dd)}, -1},
      {"a bare datagram sent is no request", {rec(S, 10, bare), rec(R, 13, bare)}, -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    AnswerMatcher m;
    std::int64_t got = 0;
    for (const auto& r : row.records) got = m.take(r);
    EXPECT_EQ(got, row.lastMs < 0 ? AnswerMatcher::kNoRequest : row.lastMs * 1000000);
  }
}

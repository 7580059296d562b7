#pragma once
// Reads a capture file back with libpcap: the IPv4 addresses, UDP ports and payload
// length of every packet.
#include <QString>
#include <QtGlobal>
#include <pcap/pcap.h>
#include <vector>

namespace uitest {

struct CapturedPacket {
  quint32 src = 0, dst = 0;
  quint16 srcPort = 0, dstPort = 0;
  int payload = 0;
};

// Every packet of the file. `complete`: the file opened and read to its end
// without an error.
inline std::vector<CapturedPacket> readCapture(const QString& path, bool* complete) {
  std::vector<CapturedPacket> out;
  *complete = false;
  char err[PCAP_ERRBUF_SIZE] = {};
  pcap_t* p = pcap_open_offline(path.toLocal8Bit().constData(), err);
  if (!p) return out;
  pcap_pkthdr* h = nullptr;
  const u_char* d = nullptr;
  int rc;
  const auto be = [&](int at, int n) {
    quint32 v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | d[at + i];
    return v;
  };
  while ((rc = pcap_next_ex(p, &h, &d)) == 1) {
    if (h->caplen < 28) continue;
    out.push_back({be(12, 4), be(16, 4), quint16(be(20, 2)), quint16(be(22, 2)), int(h->caplen) - 28});
  }
  *complete = rc == PCAP_ERROR_BREAK && pcap_datalink(p) == DLT_RAW;
  pcap_close(p);
  return out;
}

}  // namespace uitest

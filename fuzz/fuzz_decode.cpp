// DecodeStatus and every text and value the presentation derives from the record,
// on any receive buffer and any AnswerBase; and the traffic view's decode of the
// same bytes as any datagram, from either side.
#include "FuzzInput.h"
#include "link/ReceiveBuffer.h"
#include "status/Decode.h"
#include "status/StatusReport.h"
#include "wire/DatagramDecode.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint8_t baseChoice = in.byte();
  const auto datagram = in.rest();
  ReceiveBuffer buffer;
  buffer.store(datagram.data(), datagram.size());
  tZODADevice d;
  d.AnswerBase = baseChoice < 200 ? baseChoice % 32 : static_cast<std::int32_t>(baseChoice) * 1000003;
  for (int pass = 0; pass < 2; ++pass) {  // a second pass has previous input words
    DecodeStatus(d, buffer);
    (void)statusReportLines(d);
    (void)generalMemoLines(d);
    (void)pidReadbackLines(d);
    (void)psiReadbackLines(d);
    (void)deviceCodeText(d);
    (void)addressItemIndex(d);
    for (int n = 1; n <= 6; ++n) {
      (void)inputGaugeColour(d, n);
      (void)inputFormatText(d, n);
    }
    (void)pidFilterOutRate(d);
    (void)sdramGaugeColour(d.SdramUsage);
    (void)sdramLabelColour(d);
    (void)slideText(d.PcrSlide);
    (void)corText(d.PcrSlide);
    (void)baseErrorText(d.PcrBaseError);
    (void)baseErrorMsText(d.PcrBaseError);
    (void)gradientText(d.PcrBaseError);
  }
  const auto side = static_cast<WireSide>(baseChoice % 3);
  (void)summarizeDatagram(datagram.data(), datagram.size(), side);
  (void)decodeDatagram(datagram.data(), datagram.size(), side);
  return 0;
}

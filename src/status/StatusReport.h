#pragma once
// What the status presentation shows, as pure values: the report lines of the
// Main page's memo, the General page's memo, the read-back dumps, the label texts
// of the PCR corrector figures and the colour choices of the gauges. The widgets
// only copy these into their controls.
// The colours are the palette's (status/Palette.h).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/Framing.h"
#include "status/DeviceStatus.h"
#include "status/Palette.h"

namespace tessaly {

// A number with exactly three digits after the decimal separator, which the caller
// supplies from the user's locale (0.5 gives "0.500", or "0,500" with ",").
std::string fixed3(double value, std::string_view decimalPoint = ".");

// "Device Code: h1A (v2.07)".
std::string deviceCodeText(const tZODADevice& d);

// The whole report PresentStatus appends to the Main page's memo, in order.
std::vector<std::string> statusReportLines(const tZODADevice& d);

// The General page's memo after a status answer (the memo is cleared first).
std::vector<std::string> generalMemoLines(const tZODADevice& d);

// The item of the SDI address radio group the board's address selects; -1 clears it.
int addressItemIndex(const tZODADevice& d);

// Read-back dumps: empty unless ReadbackKind is 1 (PID filter) or 2 (PSI inserter).
std::vector<std::string> pidReadbackLines(const tZODADevice& d);
std::vector<std::string> psiReadbackLines(const tZODADevice& d);

// Input n (1..6): gauge colour, format label (" - ", "188", "204").
std::uint32_t inputGaugeColour(const tZODADevice& d, int n);
std::string inputFormatText(const tZODADevice& d, int n);
// The PID filter output rate in kbps (SDRAM input packets of 204 bytes).
std::int32_t pidFilterOutRate(const tZODADevice& d);

std::uint32_t sdramGaugeColour(std::int32_t usage);
// The font colour of the PCR page's SDRAM label: overflow, pause, otherwise black.
std::uint32_t sdramLabelColour(const tZODADevice& d);

// PCR corrector figures.
std::string slideText(std::int32_t slide);           // "Slide: -300 (-23 Hz)"
std::string corText(std::int32_t slide);             // "COR @ 40 ms: -1"
std::int32_t corValue(std::int32_t slide);           // slide div 291, truncating
std::string baseErrorText(std::int32_t baseError);   // "PCR Base Error: 45"
std::string baseErrorMsText(std::int32_t baseError, std::string_view decimalPoint = ".");  // "(0.500 ms)"
std::string gradientText(std::int32_t baseError);    // "Gradient: +" / "Gradient: -"

// How a device query ended.
enum class QueryKind {
  Ok,             // a remultiplexer's status answer: the block is in the receive buffer
  NoDevice,       // a status answer: nothing on the SDI
  NotRemux,       // a status answer from another kind of device
  UnknownAnswer,  // an answer of the wrong length or code
  Timeout,        // no answer in time
  SendFailed,     // the request did not go out
};

// What a device query learned, for any front end: the kind, where the request went
// and what the answer held.
struct QueryOutcome {
  QueryKind kind = QueryKind::Timeout;
  Framing framing = Framing::CwNet;  // the framing the request went in
  std::string deviceIp;              // the target the request went to
  int devicePort = 0;
  std::size_t length = 0;        // the answer's length (answers only)
  std::uint8_t answerCode = 0;   // the answer's code byte (answers only)
  int sdiAddress = 0;            // the board's address byte (CW-Net status answers), else the one asked
  std::uint8_t deviceCode = 0;   // Ok and NotRemux
  int answerBase = 0;            // Ok: where the status block starts in the receive buffer

  bool statusAnswer() const { return kind == QueryKind::Ok || kind == QueryKind::NoDevice || kind == QueryKind::NotRemux; }
  bool devicePresent() const { return kind == QueryKind::Ok || kind == QueryKind::NotRemux; }
};

struct QueryContext {
  Framing framing = Framing::CwNet;  // the framing the request was sent in
  std::string deviceIp;
  int devicePort = 0;
  int selectedSdiAddress = 1;  // shown for DDToIP answers
};

// `at` reads one byte of the receive buffer.
template <typename At>
QueryOutcome evaluateQueryAnswer(const QueryContext& ctx, std::size_t length, At at);

QueryOutcome evaluateQueryAnswerBytes(const QueryContext& ctx, std::size_t length, std::uint8_t answerCode,
                                      std::uint8_t sdiAddressByte, std::uint8_t presence, std::uint8_t deviceCode);

template <typename At>
QueryOutcome evaluateQueryAnswer(const QueryContext& ctx, std::size_t length, At at) {
  const bool ddtoip = ctx.framing == Framing::DDToIP;
  const std::size_t base = ddtoip ? kDDToIPAnswerBase : kCwNetAnswerBase;
  return evaluateQueryAnswerBytes(ctx, length, at(ddtoip ? kDDToIPAnswerCodeAt : kCwNetAnswerCodeAt), at(kCwNetAddressAt),
                                   at(base), at(base + 1));
}

// The texts of an answered query (not Timeout or SendFailed):
// the first line: "CW-Net Data received.", "DDToIP SDI Answer received." or "Unknown message received.";
std::string queryAnswerText(const QueryOutcome& o);
// the Main page's memo after it is cleared (the status report follows for Ok);
std::vector<std::string> queryAnswerLines(const QueryOutcome& o);
// what is wrong, in one line: "Unknown message received.", "There is no device
// connected to the SDI.", "There is no ASI Remultiplexer connected to the SDI."; empty for Ok;
std::string queryProblemText(const QueryOutcome& o);
// the device code line of a status answer ("Device Code: h1A", "Device Code: (no
// device)"); empty when the answer was no status answer.
std::string queryDeviceCodeText(const QueryOutcome& o);

// Whether a datagram is an ASI Remultiplexer's status answer, in the framing the
// request went in, from a board whose own address (bits 0..3 of the status block's
// address byte, when they hold 1..15) is not the SDI address the request went to:
// another board's status, not the addressed one's. Answers without a board, from
// other devices or with an address byte of 0, and requests to no valid SDI address
// (0), are not judged (false).
bool isOtherBoardsStatus(Framing framing, std::uint8_t sdiAddress, const std::uint8_t* data, std::size_t length);

// The lines of the Main page's memo after a status request went out.
std::vector<std::string> querySentLines(int hostPort, int devicePort, const std::string& deviceIp);

}  // namespace tessaly

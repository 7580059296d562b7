#pragma once
// The PCR correction chart's fixed rules, free of widgets: the polling cadence,
// the sample limit, the bottom axis steps, the plotted value and the check of a
// poll answer by its received length.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/Framing.h"

namespace tessaly {

// The chart's polling codes. Every code from 200 upward leaves a running countdown
// alone when an answer arrives: the answer is evaluated when the interval ends.
namespace state {
constexpr std::uint8_t ChartPollDue = 200, ChartPollSent = 201, ChartPollGot = 202;
}  // namespace state

namespace chart {
constexpr int FirstPollMs = 100;     // Start / Continue to the first request
constexpr int AnswerWaitMs = 500;    // request to the look at its answer
constexpr int NextPollMs = 500;      // answer (or none) to the next request
constexpr std::int32_t SampleLimit = 3600;
constexpr int OpeningBottomMax = 500;  // as the window opens
constexpr int StartBottomMax = 100;    // after Start and Clear
constexpr int LeftMax = 120;           // manual left axis: -120..120
}  // namespace chart

// Texts of the polling loop on the page's status panel.
extern const std::string_view kChartSentText;       // "Message sent..."
extern const std::string_view kChartNoAnswerText;   // "SDI Answer not received!"
extern const std::string_view kChartStoppedText;    // "Press Start to analize PCR Correction!"
extern const std::string_view kUnknownMessageText;  // "Unknown message received."
extern const std::string_view kNoDeviceText;        // "No device connected to the SDI."
extern const std::string_view kNoRemuxText;         // "There is no ASI Remultiplexer connected to the SDI."

// The bottom axis maximum that sample number `sampleCount` switches to, or 0 when
// that sample leaves the axis as it is (steps at 90, 290, 590 and 1790).
int bottomAxisStepAt(std::int32_t sampleCount);

// The plotted value of a slide: slide div 291, truncating toward zero.
std::int32_t chartValue(std::int32_t slide);

// A poll answer, checked by its received length alone (whatever framing the
// request went out in): 1032 bytes as CW-Net, 1049 bytes as DDToIP.
enum class PollFault { None, UnknownMessage, NoDevice, NotRemux };
struct PollAnswerCheck {
  bool valid = false;
  int answerBase = 0;         // 8 or 25 when valid
  PollFault fault = PollFault::None;  // why, when not valid
};
// The failure text of a refused answer ("" for None).
std::string_view pollFaultText(PollFault fault);
PollAnswerCheck checkPollAnswerBytes(std::size_t length, std::uint8_t answerCode, std::uint8_t presence,
                                     std::uint8_t deviceCode);

// `at` reads one byte of the receive buffer.
template <typename At>
PollAnswerCheck checkPollAnswer(std::size_t length, At at) {
  if (length == kCwNetStatusAnswer)
    return checkPollAnswerBytes(length, at(kCwNetAnswerCodeAt), at(kCwNetAnswerBase), at(kCwNetAnswerBase + 1));
  if (length == kDDToIPStatusAnswer)
    return checkPollAnswerBytes(length, at(kDDToIPAnswerCodeAt), at(kDDToIPAnswerBase), at(kDDToIPAnswerBase + 1));
  return checkPollAnswerBytes(length, 0, 0, 0);
}

}  // namespace tessaly

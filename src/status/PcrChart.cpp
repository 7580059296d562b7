#include "status/PcrChart.h"

#include "status/StatusReport.h"

namespace tessaly {

const std::string_view kChartSentText = "Message sent...";
const std::string_view kChartNoAnswerText = "SDI Answer not received!";
const std::string_view kChartStoppedText = "Press Start to analize PCR Correction!";
const std::string_view kUnknownMessageText = "Unknown message received.";
const std::string_view kNoDeviceText = "No device connected to the SDI.";
const std::string_view kNoRemuxText = "There is no ASI Remultiplexer connected to the SDI.";

int bottomAxisStepAt(std::int32_t sampleCount) {
  switch (sampleCount) {
    case 90: return 300;
    case 290: return 600;
    case 590: return 1800;
    case 1790: return 3600;
    default: return 0;
  }
}

std::int32_t chartValue(std::int32_t slide) { return corValue(slide); }

PollAnswerCheck checkPollAnswerBytes(std::size_t length, std::uint8_t answerCode, std::uint8_t presence,
                                     std::uint8_t deviceCode) {
  PollAnswerCheck c;
  std::uint8_t expectedCode = 0;
  if (length == kCwNetStatusAnswer) {
    expectedCode = kCwNetReadCode;
    c.answerBase = kCwNetAnswerBase;
  } else if (length == kDDToIPStatusAnswer) {
    expectedCode = kStatusAnswerCode;
    c.answerBase = kDDToIPAnswerBase;
  } else {
    c.fault = PollFault::UnknownMessage;
  }
  if (c.fault == PollFault::None) {
    if (answerCode != expectedCode)
      c.fault = PollFault::UnknownMessage;
    else if (presence != kDevicePresent)
      c.fault = PollFault::NoDevice;
    else if (deviceCode != kRemuxDeviceCode)
      c.fault = PollFault::NotRemux;
  }
  c.valid = c.fault == PollFault::None;
  if (!c.valid) c.answerBase = 0;
  return c;
}

std::string_view pollFaultText(PollFault fault) {
  switch (fault) {
    case PollFault::UnknownMessage: return kUnknownMessageText;
    case PollFault::NoDevice: return kNoDeviceText;
    case PollFault::NotRemux: return kNoRemuxText;
    case PollFault::None: break;
  }
  return "";
}

}  // namespace tessaly

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
    c.message = kUnknownMessageText;
    return c;
  }
  if (answerCode != expectedCode)
    c.message = kUnknownMessageText;
  else if (presence != kDevicePresent)
    c.message = kNoDeviceText;
  else if (deviceCode != kRemuxDeviceCode)
    c.message = kNoRemuxText;
  else
    c.valid = true;
  if (!c.valid) c.answerBase = 0;
  return c;
}

}  // namespace tessaly

// The pure presentation values: report lines, dumps, colours, PCR figures and the
// query answer outcome.
#include <gtest/gtest.h>

#include <algorithm>

#include "status/StatusReport.h"

using namespace tessaly;

namespace {

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

tZODADevice sampleDevice() {
  tZODADevice d;
  d.VersionText = "2.07";
  d.MpxVersion = 3;
  d.SppVersion = 4;
  d.Model = 1;
  d.DeviceType = 4852;
  d.SerialNumber = -1;
  d.AddressByte = 0x13;
  d.InstructionCounter = 9;
  d.IicError = 0x0A;
  d.LedFlags = 0x8F;
  d.NcoFrequency = 3000000;
  d.PllFrequency = 2999999;
  d.PDiv = 34;
  d.OutputFormat = 0x81;
  d.PidFilterState = 1;
  d.ChannelEnable = 0x01;
  d.InputStatus[1] = (3u << 24) | (1u << 23) | 256;
  d.InputRate[1] = 385;
  d.SdramInputRate = 100;
  d.SdramUsage = 7;
  d.SdramOverflow = true;
  d.NullPacketRate = 5;
  d.PsiInserterState = 0;
  d.InsertedPacketRate = 2;
  d.PcrState = 0x11;
  d.PcrPidCount = 4;
  d.PcrDiscontinuity = 6;
  d.TestPid = 500;
  return d;
}

}  // namespace

TEST(StatusReport, FullReportInOrder) {
  const auto l = statusReportLines(sampleDevice());
  // 18 head lines with all five LED lines and the model line, then 3 format lines,
  // 4 PID filter lines, 6 x 11 input lines (a blank line, the heading, nine
  // figures), 7 SDRAM, 5 PSI and 8 PCR lines.
  ASSERT_EQ(l.size(), 18u + 3 + 4 + 66 + 7 + 5 + 8);
  const std::vector<std::string> head = {"Version: v2.07",
                                         "Xilinx (MPX) version: v3",
                                         "Xilinx (SPP) version: v4",
                                         "Model: 1",
                                         " ASI Remultiplexer 6QV",
                                         "Type: 4852",
                                         "Serial: -1",
                                         "Address: 3 (jumper selected)",
                                         "Instruction Packet Counter: 9",
                                         "IIC Error: h0A",
                                         "Overflow: h8F",
                                         " TS Input Overflow LED: On",
                                         " SDRAM Overflow LED: On",
                                         " PSI Overflow LED: On",
                                         " Stream LED: On",
                                         " Power On LED: On",
                                         "NCO Frequency: 3000000 Hz",
                                         "PLL Frequency: 2999999 Hz (PDiv = 34)",
                                         "Output Format: 188",
                                         "Clock Select: 1",
                                         " PLL (2999999 Hz)",
                                         " ",
                                         "PID Filter",
                                         " State: h01",
                                         " Flash is busy.",
                                         " ",
                                         "Input Channel #1",
                                         " Channel enabled",
                                         " DataValid disabled",
                                         " Null Packet Filter off",
                                         " TSP Error Filter off",
                                         " Input Packets: 256 / sec",
                                         " Data Rate: 385 kbps",
                                         " Syncron Error: 3",
                                         " Format: 188",
                                         " Overflow: Off",
                                         " ",
                                         "Input Channel #2",
                                         " Channel disabled"};
  for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(l[i], head[i]) << "line " << i;
  const std::vector<std::string> tail = {" ",
                                         "SDRAM",
                                         " SDRAM Input: 100 packet/sec",
                                         " SDRAM Usage: 7 packet(s)",
                                         " Overflow: On",
                                         " PCR Pause: Off",
                                         " Output Null Packets: 5 packet/sec",
                                         " ",
                                         "PSI Inserter",
                                         " State: h00",
                                         " Flash is free.",
                                         " Inserted Packets: 2 packet/sec",
                                         " ",
                                         "PCR Corrector",
                                         " State: h11",
                                         " PCR Corrector: On",
                                         " Direct PCR Restamping: On",
                                         " Number of PCRPIDs: 4",
                                         " PCR Discont. counter: 6",
                                         " Test PID: 500"};
  for (std::size_t i = 0; i < tail.size(); ++i) EXPECT_EQ(l[l.size() - tail.size() + i], tail[i]);
}

TEST(StatusReport, ModelLineAndAddressSuffix) {
  struct Case {
    std::uint8_t model, address;
    bool modelLine;
    std::string addressLine;
    int item;
  } cases[] = {{0, 0x03, true, "Address: 3 ", 2},
               {1, 0x13, true, "Address: 3 (jumper selected)", 2},
               {2, 0x0F, false, "Address: 15 ", 14},
               {255, 0x00, false, "Address: 0 ", -1}};
  for (const auto& c : cases) {
    tZODADevice d;
    d.Model = c.model;
    d.AddressByte = c.address;
    const auto l = statusReportLines(d);
    EXPECT_EQ(contains(l, " ASI Remultiplexer 6QV"), c.modelLine) << int(c.model);
    EXPECT_TRUE(contains(l, c.addressLine)) << c.addressLine;
    EXPECT_EQ(addressItemIndex(d), c.item);
  }
}

TEST(StatusReport, LedLinesFollowTheirBits) {
  tZODADevice d;
  d.LedFlags = 0x70;  // bits 4..6 have no line
  auto l = statusReportLines(d);
  EXPECT_TRUE(contains(l, "Overflow: h70"));
  EXPECT_EQ(l[11], "NCO Frequency: 0 Hz");
  d.LedFlags = 0x08;
  l = statusReportLines(d);
  EXPECT_EQ(l[11], " Stream LED: On");
}

TEST(StatusReport, ClockLineBySelectValue) {
  struct Case {
    std::uint8_t format;
    std::string line;
  } cases[] = {{0, " NCO (7 Hz)"},  {9, " NCO (7 Hz)"},         {127, " NCO (7 Hz)"},
               {1, " PLL (8 Hz)"},  {2, " TS Input 1 Clock"},   {7, " TS Input 6 Clock"},
               {8, " External Clock Source"}, {0x88, " External Clock Source"}};
  for (const auto& c : cases) {
    tZODADevice d;
    d.NcoFrequency = 7;
    d.PllFrequency = 8;
    d.OutputFormat = c.format;
    const auto l = statusReportLines(d);
    EXPECT_TRUE(contains(l, c.line)) << int(c.format);
    EXPECT_TRUE(contains(l, "Clock Select: " + std::to_string(c.format & 127)));
    EXPECT_TRUE(contains(l, (c.format & 0x80) ? "Output Format: 188" : "Output Format: 204"));
  }
}

TEST(StatusReport, GeneralMemo) {
  tZODADevice d;
  d.NcoFrequency = 120;
  d.PllFrequency = 97753;
  d.SdramUsage = 65535;
  d.NullPacketRate = 11;
  EXPECT_EQ(generalMemoLines(d),
            (std::vector<std::string>{"NCO frequency range: 120 Hz - 40.5 MHz", "PLL frequency range: 97753 Hz - 40.5 MHz",
                                      " ", "NCO Frequency: 120 Hz", "PLL Frequency: 97753 Hz", " ",
                                      "SDRAM Usage: 65535 packet(s)", "Output Null Packets: 11 packet/sec"}));
}

TEST(StatusReport, ReadbackDumps) {
  tZODADevice d;
  for (int i = 0; i < 256; ++i) d.ReadbackData[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 0x11);
  for (std::uint8_t kind : {0, 3, 255}) {
    d.ReadbackKind = kind;
    EXPECT_TRUE(pidReadbackLines(d).empty());
    EXPECT_TRUE(psiReadbackLines(d).empty());
  }
  d.ReadbackKind = 1;
  const auto pid = pidReadbackLines(d);
  ASSERT_EQ(pid.size(), 10u);
  EXPECT_EQ(pid[0], "PID Filter Readback Data:");
  EXPECT_EQ(pid[1], " h0011 h2233 h4455 h6677 ");
  EXPECT_EQ(pid[9], " ...");
  EXPECT_TRUE(psiReadbackLines(d).empty());
  d.ReadbackKind = 2;
  const auto psi = psiReadbackLines(d);
  ASSERT_EQ(psi.size(), 17u);
  EXPECT_EQ(psi[0], "PSI Inserter Readback Data:");
  EXPECT_EQ(psi[1], " h0011 h2233 h4455 h6677 h8899 hAABB hCCDD hEEFF ");
  EXPECT_EQ(psi[16].substr(0, 6), " hF001");  // bytes 240 and 241: 240 * 0x11 and 241 * 0x11, low 8 bits
  EXPECT_TRUE(pidReadbackLines(d).empty());
}

TEST(StatusReport, InputGaugeColourAndFormat) {
  struct Case {
    std::uint8_t enable;
    std::uint32_t now, before;
    std::int32_t rate;
    std::uint32_t colourWanted;
    std::string format;
  } cases[] = {
      {0x00, 1u << 22, 0, 100, colour::ButtonFace, "204"},               // disabled wins over overflow
      {0x01, (1u << 22) | (5u << 24), 5u << 24, 100, colour::Red, "204"},  // overflow
      {0x01, 5u << 24, 5u << 24, 100, colour::Green, "204"},             // same sync counter
      {0x01, 5u << 24, 4u << 24, 100, colour::Orange, "204"},            // new sync errors
      {0x01, 1u << 24, 0, 0, colour::Orange, " - "},                     // first answer, rate 0
      {0x01, 1u << 23, 0, 1, colour::Green, "188"},
  };
  for (const auto& c : cases) {
    tZODADevice d;
    d.ChannelEnable = c.enable;
    d.InputStatus[1] = c.now;
    d.PrevInputStatus[1] = c.before;
    d.InputRate[1] = c.rate;
    EXPECT_EQ(inputGaugeColour(d, 1), c.colourWanted);
    EXPECT_EQ(inputFormatText(d, 1), c.format);
  }
}

TEST(StatusReport, SdramThresholds) {
  const std::pair<std::int32_t, std::uint32_t> cases[] = {
      {0, colour::Green}, {50000, colour::Green}, {50001, colour::Yellow},
      {65533, colour::Yellow}, {65534, colour::Red}, {65535, colour::Red}};
  for (const auto& [usage, c] : cases) EXPECT_EQ(sdramGaugeColour(usage), c) << usage;
  tZODADevice d;
  EXPECT_EQ(sdramLabelColour(d), colour::Black);
  d.PcrPause = true;
  EXPECT_EQ(sdramLabelColour(d), colour::Blue);
  d.SdramOverflow = true;
  EXPECT_EQ(sdramLabelColour(d), colour::Red);
}

TEST(StatusReport, PidFilterOutRateDoesNotOverflow) {
  tZODADevice d;
  d.SdramInputRate = 0xFFFFF;
  EXPECT_EQ(pidFilterOutRate(d), 1711274);
  d.SdramInputRate = 1000;
  EXPECT_EQ(pidFilterOutRate(d), 1632);
}

TEST(StatusReport, PcrFigures) {
  struct Case {
    std::int32_t slide;
    std::string slideLine, cor;
  } cases[] = {{-300, "Slide: -300 (-23 Hz)", "COR @ 40 ms: -1"},
               {290, "Slide: 290 (22 Hz)", "COR @ 40 ms: 0"},
               {-290, "Slide: -290 (-22 Hz)", "COR @ 40 ms: 0"},
               {-582, "Slide: -582 (-44 Hz)", "COR @ 40 ms: -2"},
               {-32768, "Slide: -32768 (-2520 Hz)", "COR @ 40 ms: -112"},
               {32767, "Slide: 32767 (2520 Hz)", "COR @ 40 ms: 112"}};
  for (const auto& c : cases) {
    EXPECT_EQ(slideText(c.slide), c.slideLine);
    EXPECT_EQ(corText(c.slide), c.cor);
  }
  EXPECT_EQ(baseErrorText(45), "PCR Base Error: 45");
  EXPECT_EQ(baseErrorMsText(45), "(0.500 ms)");
  EXPECT_EQ(gradientText(45), "Gradient: -");
  EXPECT_EQ(baseErrorText(0x8000 | 90), "PCR Base Error: 90");
  EXPECT_EQ(baseErrorMsText(0x8000 | 90), "(1.000 ms)");
  EXPECT_EQ(gradientText(0x8000), "Gradient: +");
  EXPECT_EQ(baseErrorMsText(0x7FFF), "(364.078 ms)");
  EXPECT_EQ(fixed3(0.0), "0.000");
  EXPECT_EQ(fixed3(1.0 / 3.0), "0.333");
  // The separator of the user's locale.
  EXPECT_EQ(baseErrorMsText(45, ","), "(0,500 ms)");
  EXPECT_EQ(fixed3(-2.0 / 3.0, ","), "-0,667");
  EXPECT_EQ(fixed3(1234.5, "\xD9\xAB"), "1234\xD9\xAB" "500");  // a separator of two bytes
}

TEST(StatusReport, DeviceCodeAndSentLines) {
  tZODADevice d;
  EXPECT_EQ(deviceCodeText(d), "Device Code: h1A (v0.00)");
  EXPECT_EQ(querySentLines(5, 6, "127.0.0.1"),
            (std::vector<std::string>{"Host Computer Port: 5", "Device Port: 6", "Device IP: 127.0.0.1", " ",
                                      "Message sent, waiting for reply..."}));
}

TEST(QueryOutcome, FailureTable) {
  struct Case {
    const char* what;
    Framing framing;
    std::size_t length;
    std::uint8_t code, presence, device;
    QueryKind kind;
    std::vector<std::string> memo;
    std::string first, problem, labelD;
  };
  const std::string ok = "CW-Net Data received.", okDD = "DDToIP SDI Answer received.";
  const std::string unknown = "Unknown message received.";
  const std::vector<Case> cases = {
      {"cw wrong length", Framing::CwNet, 1049, 0x09, 0x45, 0x1A, QueryKind::UnknownAnswer,
       {unknown, "Message length: 1049 bytes"}, unknown, unknown, ""},
      {"dd gets a cw-sized answer", Framing::DDToIP, 1032, 0xF3, 0x45, 0x1A, QueryKind::UnknownAnswer,
       {unknown, "Message length: 1032 bytes"}, unknown, unknown, ""},
      {"cw wrong code (decimal)", Framing::CwNet, 1032, 0x18, 0x45, 0x1A, QueryKind::UnknownAnswer,
       {unknown, "Message length: 1032 bytes", "Message opcode: 24"}, unknown, unknown, ""},
      {"dd wrong code (hex)", Framing::DDToIP, 1049, 0x0A, 0x45, 0x1A, QueryKind::UnknownAnswer,
       {unknown, "Message length: 1049 bytes", "Message opcode: h0A"}, unknown, unknown, ""},
      {"cw no device", Framing::CwNet, 1032, 0x09, 0x00, 0x1A, QueryKind::NoDevice,
       {ok, "Controller IP: 127.0.0.1", "Controller Port: 4000", "SDI Address: 7",
        "There is no device connected to the SDI."},
       ok, "There is no device connected to the SDI.", "Device Code: (no device)"},
      {"dd other device", Framing::DDToIP, 1049, 0xF3, 0x45, 0x1B, QueryKind::NotRemux,
       {okDD, "Controller IP: 127.0.0.1", "Controller Port: 4000", "SDI Address: 3",
        "There is no ASI Remultiplexer connected to the SDI."},
       okDD, "There is no ASI Remultiplexer connected to the SDI.", "Device Code: h1B"},
      {"cw remux", Framing::CwNet, 1032, 0x09, 0x45, 0x1A, QueryKind::Ok,
       {ok, "Controller IP: 127.0.0.1", "Controller Port: 4000", "SDI Address: 7", ""}, ok, "", "Device Code: h1A"},
  };
  for (const auto& c : cases) {
    QueryContext ctx{c.framing, "127.0.0.1", 4000, 3};
    const auto o = evaluateQueryAnswerBytes(ctx, c.length, c.code, 7, c.presence, c.device);
    EXPECT_EQ(o.kind, c.kind) << c.what;
    EXPECT_EQ(queryAnswerLines(o), c.memo) << c.what;
    EXPECT_EQ(queryAnswerText(o), c.first) << c.what;
    EXPECT_EQ(queryProblemText(o), c.problem) << c.what;
    EXPECT_EQ(queryDeviceCodeText(o), c.labelD) << c.what;
    // The facts behind the texts: a status answer names its device by code, or none.
    EXPECT_EQ(o.length, c.length) << c.what;
    EXPECT_EQ(o.statusAnswer(), !c.labelD.empty()) << c.what;
    EXPECT_EQ(o.devicePresent(), c.labelD.rfind("Device Code: h", 0) == 0) << c.what;
    if (o.devicePresent()) {
      EXPECT_EQ(o.deviceCode, c.device) << c.what;
    }
    if (c.kind == QueryKind::Ok) {
      EXPECT_EQ(o.answerBase, c.framing == Framing::DDToIP ? 25 : 8);
    }
  }
}

TEST(QueryOutcome, ReadsTheFramingsOwnBytes) {
  std::vector<std::uint8_t> buf(1049, 0);
  buf[22] = 0xF3;
  buf[25] = 0x45;
  buf[26] = 0x1A;
  auto at = [&buf](std::size_t i) { return i < buf.size() ? buf[i] : std::uint8_t{0}; };
  QueryContext dd{Framing::DDToIP, "127.0.0.1", 1, 15};
  auto o = evaluateQueryAnswer(dd, 1049, at);
  EXPECT_EQ(o.kind, QueryKind::Ok);
  EXPECT_EQ(queryAnswerLines(o)[3], "SDI Address: 15");
  QueryContext cw{Framing::CwNet, "127.0.0.1", 1, 15};
  buf[6] = 0x09;
  buf[7] = 2;
  buf[8] = 0x45;
  buf[9] = 0x1B;
  o = evaluateQueryAnswer(cw, 1032, at);
  EXPECT_EQ(o.kind, QueryKind::NotRemux);
  EXPECT_EQ(queryAnswerLines(o)[3], "SDI Address: 2");
  EXPECT_EQ(o.sdiAddress, 2);
  EXPECT_EQ(queryDeviceCodeText(o), "Device Code: h1B");
  EXPECT_EQ(o.deviceCode, 0x1B);
}

// Which arriving datagrams are another board's status: only a full status answer of
// the request's framing, from a remultiplexer whose own address (bits 0..3) is set and
// differs from the addressed one.
TEST(QueryOutcome, OtherBoardsStatus) {
  struct Case {
    const char* what;
    Framing framing;
    std::size_t length;
    std::uint8_t code, presence, device, addressByte;
    bool other;
  };
  const std::vector<Case> cases = {
      {"cw, board 1", Framing::CwNet, 1032, 0x09, 0x45, 0x1A, 0x01, true},
      {"dd, board 1", Framing::DDToIP, 1049, 0xF3, 0x45, 0x1A, 0x01, true},
      {"dd, board 15", Framing::DDToIP, 1049, 0xF3, 0x45, 0x1A, 0x0F, true},
      {"cw, the addressed board", Framing::CwNet, 1032, 0x09, 0x45, 0x1A, 0x02, false},
      {"dd, the addressed board, jumper bit", Framing::DDToIP, 1049, 0xF3, 0x45, 0x1A, 0x12, false},
      {"dd, jumper bit, board 3", Framing::DDToIP, 1049, 0xF3, 0x45, 0x1A, 0x13, true},
      {"cw, address 0", Framing::CwNet, 1032, 0x09, 0x45, 0x1A, 0x10, false},
      {"cw, no device", Framing::CwNet, 1032, 0x09, 0x00, 0x1A, 0x01, false},
      {"dd, not a remultiplexer", Framing::DDToIP, 1049, 0xF3, 0x45, 0x1B, 0x01, false},
      {"cw, one byte short", Framing::CwNet, 1031, 0x09, 0x45, 0x1A, 0x01, false},
      {"dd, a cw-sized answer", Framing::DDToIP, 1032, 0xF3, 0x45, 0x1A, 0x01, false},
      {"cw, wrong code", Framing::CwNet, 1032, 0x18, 0x45, 0x1A, 0x01, false},
      {"dd, wrong code", Framing::DDToIP, 1049, 0xF0, 0x45, 0x1A, 0x01, false},
  };
  for (const auto& c : cases) {
    const bool dd = c.framing == Framing::DDToIP;
    // Every byte but the ones of this framing is set as for the other framing's board 1.
    std::vector<std::uint8_t> d(1049, 0);
    d[6] = 0x09;
    d[22] = 0xF3;
    for (std::size_t base : {std::size_t{8}, std::size_t{25}}) {
      d[base] = 0x45;
      d[base + 1] = 0x1A;
      d[base + 30] = 0x01;
    }
    const std::size_t base = dd ? 25 : 8;
    d[dd ? 22 : 6] = c.code;
    d[base] = c.presence;
    d[base + 1] = c.device;
    d[base + 30] = c.addressByte;
    EXPECT_EQ(isOtherBoardsStatus(c.framing, 2, d.data(), c.length), c.other) << c.what;
    // A request to SDI address 0 (no selection) names no board: nothing is judged.
    EXPECT_FALSE(isOtherBoardsStatus(c.framing, 0, d.data(), c.length)) << c.what;
  }
}

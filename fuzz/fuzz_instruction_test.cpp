// The Instruction Test page's cleaning, splitting, message build and dumps on any
// row texts and user text, and the answer report on any answer.
#include "FuzzInput.h"
#include "instructions/InstructionTest.h"
#include "text/Numbers.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  std::array<InstructionRow, kInstructionRows> rows{};
  for (auto& row : rows) {
    row.ticked = in.flag();
    row.opcodeText = in.text(8);
    row.dataText = in.text(600);
  }
  const std::string userText = in.text(40);
  const Framing framing = in.flag() ? Framing::DDToIP : Framing::CwNet;
  const std::uint8_t sdi = static_cast<std::uint8_t>(1 + in.byte() % 15);
  InstructionMessage m = buildInstructionMessage(rows, userText, framing, sdi);
  (void)viewDumpLines(m);
  (void)sendDumpLines(m);
  (void)fitsOneDatagram(m.datagram);
  // Cleaned texts clean to themselves, so a second build gives the same datagram.
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].ticked) continue;
    rows[i].opcodeText = *m.opcodeTexts[i];
    rows[i].dataText = *m.dataTexts[i];
  }
  if (buildInstructionMessage(rows, userText, framing, sdi).datagram != m.datagram) __builtin_trap();
  const auto answer = in.rest();
  (void)answerLines(answer.data(), answer.size(), answer.size());
  (void)answerLines(answer.data(), answer.size(), answer.size() + 100);
  (void)splitDataText(cleanDataText(userText));
  (void)readInt32(userText);
  return 0;
}

#pragma once
// Options of the board emulator: what the command line of tessaly-emulator sets,
// and what tests set directly. Defaults are those of the program.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::emu {

struct EmulatorOptions {
  std::uint8_t sdiAddress = 1;       // the board's SDI address, 1..15
  // Several boards on the bus, in this order (distinct, 1..15); empty: the one
  // board at sdiAddress. Board i reports the serial of the first plus i.
  std::vector<std::uint8_t> sdiAddresses;
  std::uint8_t deviceCode = 0x1A;    // second byte of the status block
  bool noDevice = false;             // the controller answers, but no board sits on the SDI
  std::int64_t eraseMs = 3000;       // how long an erase keeps the busy flags set
  std::int64_t irqMs = 2;            // delay of an interrupt notice
  double drop = 0.0;                 // probability that an answer is not sent
  double duplicate = 0.0;            // probability that an answer is sent twice
  double corrupt = 0.0;              // probability that an answer is damaged
  std::int64_t delayMinMs = 0;       // extra delay of every answer, drawn from [min, max]
  std::int64_t delayMaxMs = 0;
  std::optional<std::uint64_t> seed; // every random choice follows it; none: a random seed
  std::int64_t delayQueueCap = 10000; // delayed answers held at once; beyond it the oldest goes
};

// Command-line value readers. Each gives nothing for a text it does not accept.
struct ListenAddress {
  std::string host;  // dotted IPv4
  std::uint16_t port = 0;
};
std::optional<ListenAddress> parseListen(std::string_view text);         // "ADDR:PORT"
std::optional<double> parseProbability(std::string_view text);           // 0..1
std::optional<std::pair<std::int64_t, std::int64_t>> parseDelay(std::string_view text);  // "MIN" or "MIN-MAX"
std::optional<std::uint8_t> parseHexByte(std::string_view text);         // "1A", "0x1A", "$1A"
std::optional<std::int64_t> parseCount(std::string_view text, std::int64_t lo, std::int64_t hi);  // decimal
std::optional<std::uint64_t> parseSeed(std::string_view text);           // decimal, 64 bits
// SDI addresses "1,3,5-7": numbers and rising ranges within 1..15, none twice.
std::optional<std::vector<std::uint8_t>> parseSdiAddresses(std::string_view text);

}  // namespace tessaly::emu

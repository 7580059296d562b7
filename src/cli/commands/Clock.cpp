// clock: the General page's output clock and stream format.
#include <QJsonObject>
#include <QString>

#include "cli/DeviceRun.h"
#include "cli/commands/Commands.h"
#include "clock/Pll.h"
#include "instructions/GeneralInstructions.h"

namespace tessaly::cli {
namespace {

// The stream format the options ask for; one frequency, the one the source uses.
StreamFormat streamFormat(const GivenOptions& o) {
  const auto nco = o.number("--nco"), pll = o.number("--pll");
  if (!nco && !pll) throw UsageError{"clock: missing --nco HZ or --pll HZ"};
  // One frequency: the other would be programmed into nothing.
  if (nco && pll) throw UsageError{"clock: --nco and --pll together (give the one the source uses)"};
  StreamFormat in;
  in.clockSource = static_cast<int>(o.number("--source").value_or(nco ? clockSource::Nco : clockSource::Pll));
  if (in.clockSource == clockSource::Nco && !nco) throw UsageError{"--source nco: missing --nco HZ"};
  if (in.clockSource == clockSource::Pll && !pll) throw UsageError{"--source pll: missing --pll HZ"};
  in.packetSize = o.number("--format").value_or(0) == 0 ? 188 : 204;
  in.highPriority = o.number("--priority").value_or(0) == 1;
  if (nco) in.ncoHz = static_cast<std::int32_t>(*nco);
  if (pll) in.pllHz = static_cast<std::int32_t>(*pll);
  return in;
}

// The PLL search's figures, as the search report lists them.
QJsonObject pllJson(const PllSettings& p, std::int32_t requested) {
  QJsonObject pll;
  pll["found"] = p.found;
  if (!p.found) return pll;
  pll["pdiv"] = p.PDiv;
  pll["m"] = p.M;
  pll["n"] = p.N;
  pll["p"] = p.P;
  pll["q"] = p.Q;
  pll["r"] = p.R;
  pll["vco_range"] = p.VcoRange;
  pll["vco_hz"] = static_cast<qint64>(p.VcoFrequency);
  pll["output_hz"] = p.OutputFrequency;
  pll["error_hz"] = static_cast<qint64>(requested) - p.OutputFrequency;
  pll["word"] = QString::asprintf("%08X", pllWord(p));
  return pll;
}

int clock(Invocation& inv) {
  const GivenOptions& o = inv.options();
  const StreamFormat in = streamFormat(o);
  const auto m = streamFormatMessage(in);
  // The PLL search report, as the General page's memo shows it.
  if (m.pllReport)
    for (const auto& l : *m.pllReport) say(inv.json, l);
  QJsonObject& json = inv.json.fields;
  const char* const sources[] = {"nco", "pll", "input1", "input2", "input3", "input4", "input5", "input6", "external"};
  json["source"] = sources[in.clockSource];
  json["format"] = in.packetSize;
  json["priority"] = in.highPriority ? "high" : "low";
  if (o.has("--nco")) json["nco_hz"] = in.ncoHz;
  if (o.has("--pll")) {
    json["pll_hz"] = in.pllHz;
    if (in.clockSource == clockSource::Pll) json["pll"] = pllJson(m.pll.value_or(PllSettings{}), in.pllHz);
  }
  Request r;
  r.instruction = [m](const QueryTarget& t) { return m.datagram(t.framing, t.sdiAddress); };
  return runRequest(inv, r);
}

}  // namespace

const Command kClock{
    "clock",
    "  clock --nco HZ | --pll HZ [--source nco|pll|input1..input6|external]\n"
    "        [--format 188|204] [--priority low|high] [--json]\n"
    "                         set the output clock and stream format (NCO 120..40500000 Hz,\n"
    "                         PLL 97753..40500000 Hz; one of the two); with the PLL, prints\n"
    "                         the PLL search report (--json: one JSON object with the\n"
    "                         search's figures); the source defaults to the one whose\n"
    "                         frequency is given, the format to 188, the priority to low\n"
    "                           tessaly-cli clock --pll 27000000 --format 204\n",
    "clock --nco HZ | --pll HZ [--source ...] [--format 188|204] [--priority low|high]",
    0,
    {"--nco", "--pll", "--source", "--format", "--priority", "--json"},
    clock};

}  // namespace tessaly::cli

// The Main page's exchanges: the Query and the board's identity.
#include "cli/Cli.h"
#include "cli/DeviceRun.h"
#include "cli/commands/Commands.h"
#include "instructions/GeneralInstructions.h"

namespace tessaly::cli {
namespace {

int query(Invocation& inv) { return runRequest(inv, Request{}); }

int setSerial(Invocation& inv) {
  const auto serial = static_cast<std::uint32_t>(number("set-serial", inv.args()[0], 0, 4294967295LL));
  return runRequest(inv, pageRequest(setSerialInstruction(serial)));
}

int setType(Invocation& inv) {
  const auto type = static_cast<std::uint16_t>(number("set-type", inv.args()[0], 0, 65535));
  return runRequest(inv, pageRequest(setTypeInstruction(type)));
}

int reset(Invocation& inv) { return runRequest(inv, pageRequest(resetInstruction())); }

int setUserText(Invocation& inv) {
  // The text goes out as 8-bit characters, one byte each, as the panel's edit sends it.
  const std::string text = latin1("set-user-text", inv.args()[0]);
  if (text.size() > 15) throw UsageError{"set-user-text: longer than 15 characters"};
  return runRequest(inv, pageRequest(setUserTextInstruction(text)));
}

int setAddress(Invocation& inv) {
  const auto address = static_cast<std::uint8_t>(number("set-address", inv.args()[0], 1, 15));
  return runRequest(inv, pageRequest(setAddressInstruction(address)));
}

}  // namespace

const Command kQuery{
    "query",
    "  query [--json]         read the board's status; text as the panel's information memo,\n"
    "                         or one JSON object of the decoded status (also when it fails:\n"
    "                         \"ok\": false, the \"reason\" and what the answer held)\n"
    "                           tessaly-cli --device 10.123.13.101 query --json\n",
    "query [--json]", 0, {"--json"}, query};

const Command kSetSerial{
    "set-serial",
    "  set-serial N           set the serial number (0..4294967295)\n"
    "                           tessaly-cli set-serial 56765\n",
    "set-serial N", 1, {}, setSerial};

const Command kSetType{
    "set-type",
    "  set-type N             set the type (0..65535)\n"
    "                           tessaly-cli set-type 4852\n",
    "set-type N", 1, {}, setType};

const Command kReset{
    "reset",
    "  reset                  reset the board\n"
    "                           tessaly-cli reset\n",
    "reset", 0, {}, reset};

const Command kSetUserText{
    "set-user-text",
    "  set-user-text TEXT     set the user text (up to 15 characters, each one Latin-1 holds)\n"
    "                           tessaly-cli set-user-text \"My UserText\"\n",
    "set-user-text TEXT", 1, {}, setUserText};

const Command kSetAddress{
    "set-address",
    "  set-address N          set the board's SDI address (1..15)\n"
    "                           tessaly-cli --sdi 1 set-address 3\n",
    "set-address 1..15", 1, {}, setAddress};

}  // namespace tessaly::cli

#pragma once
// The instructions that bring a board to a profile, in a safe order: identity (its
// SDI address last of all), inputs, output, sectors, PCR corrector, test PID, then
// the PID filter (erase, wait for its flash, write) and the PSI flash (the same).
#include <string>
#include <vector>

#include "profile/Profile.h"
#include "text/Bytes.h"

namespace tessaly::profile {

struct ApplyStep {
  enum Wait { Notice, FlashPidFree, FlashPsiFree };
  std::string what;   // a progress line, e.g. "PID filter: input 1 PID 500 -> 500"
  std::string label;  // the instruction's 15-character label
  Bytes sdiMessage;   // sent with encodeLoadDatagram(framing, label, sdi, sdiMessage)
  // After the interrupt notice: Notice is all; FlashPidFree / FlashPsiFree query until
  // the status's PidFilterState / PsiInserterState bit 0 (busy) is clear.
  Wait after = Notice;
};

// The profile must be valid (validateProfile empty).
std::vector<ApplyStep> applyPlan(const Profile& p);

// True when the profile's pid_filter names some inputs but not all six: the erase
// clears every input, so the inputs it does not name end with no entries.
bool replacesUnnamedPidInputs(const Profile& p);

}  // namespace tessaly::profile

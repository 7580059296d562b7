#pragma once
// Every tessaly-cli command, one object each (defined in this folder, one file per
// command or per command with its subcommands); commands() in Command.cpp lists
// them in the help's order.
#include "cli/Command.h"

namespace tessaly::cli {

extern const Command kQuery, kSetSerial, kSetType, kReset, kSetUserText, kSetAddress;  // Board.cpp
extern const Command kClock;                                                          // Clock.cpp
extern const Command kSend;                                                           // Send.cpp
extern const Command kPidFilterGeneral, kPidFilterErase, kPidFilterWrite, kPidFilterRead;  // PidFilter.cpp
extern const Command kPsiSector, kPsiErase, kPsiWrite, kPsiRead;                      // Psi.cpp
extern const Command kPcrCorrectorMode, kPcrCorrectorTestPid;                         // PcrCorrector.cpp
extern const Command kPcrLog;                                                         // PcrLogCommand.cpp
extern const Command kMfgTest;                                                        // MfgTestCommand.cpp
extern const Command kConfigExport, kConfigApply, kConfigDiff;                       // Config.cpp
extern const Command kScan;                                                           // Scan.cpp
extern const Command kHelp;                                                           // Help.cpp

}  // namespace tessaly::cli

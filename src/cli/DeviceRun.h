#pragma once
// The exchanges the board's commands share: a Query and how it is shown, an
// instruction with its wait for the interrupt notice (and a read-back after it), and
// the checks before anything is sent.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cli/Command.h"
#include "instructions/PageInstructions.h"
#include "protocol/Protocol.h"

namespace tessaly::cli {

// What a command prints from a decoded status answer.
enum class Present { Report, PidReadback, PsiReadback };

// The notice wait a page's instruction uses: its codes and its send-failure text.
struct NoticeCodes {
  std::uint8_t waiting, received;
  std::string_view sendFailedText;
};
extern const NoticeCodes kGeneralNotice;

// What a command asks of the board: an instruction and its notice wait (with
// `readBack`, a Query after the notice shows that read-back); without an
// instruction, a Query whose answer is the status report.
struct Request {
  std::function<Bytes(const QueryTarget&)> instruction;
  NoticeCodes codes = kGeneralNotice;
  std::optional<Present> readBack;
};
Request pageRequest(const LabelledInstruction& i, const NoticeCodes& codes = kGeneralNotice,
                    std::optional<Present> readBack = std::nullopt);

// Runs `r` against the link the options select; the exit code.
int runRequest(Invocation& inv, const Request& r);

// The host port (unless 0), bound here first so that a port in use is named, with
// the way out (SendError).
void requireHostPort(const QueryTarget& t);

// The link the options select, its host port bound here first so that a port in use
// is named, with the way out (SendError).
QueryTarget usableTarget(const GivenOptions& o);

// An output file option is never the panel's settings file.
void refuseSettingsFile(const char* option, const std::optional<std::string>& path);

// TEXT as 8-bit characters, one byte each, as the panel's edits send them; a
// character Latin-1 cannot hold is refused, naming it, rather than sent as '?'.
std::string latin1(const std::string& what, const std::string& text);

}  // namespace tessaly::cli

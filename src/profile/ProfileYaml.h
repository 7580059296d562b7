#pragma once
// Profile files: YAML read with the file, line and column of what is wrong, and the
// canonical write (same profile, same bytes; parseProfile(writeProfile(p)) == p).
#include <string>

#include "profile/Profile.h"

namespace tessaly::profile {

// Reads and checks a profile; `path` names the file in messages. Throws ProfileError
// "PATH:LINE:COLUMN: what is wrong" (1-based).
Profile parseProfile(const std::string& text, const std::string& path);
// Reads the file; throws ProfileError "PATH: why it cannot be read" or as parseProfile.
Profile loadProfile(const std::string& path);

// Canonical YAML: a comment header, sections in a fixed order, PIDs and records sorted.
std::string writeProfile(const Profile& p);

// A user text (8-bit characters) as the profile writes it: double-quoted, quote and
// backslash escaped, control characters as \xNN, the rest of Latin-1 as UTF-8.
std::string quotedText(const std::string& latin1);

// The checks parseProfile makes on the values (ranges, overlaps, duplicates,
// reachable frequencies), for a profile built in code: the first problem as
// "field: what is wrong", or an empty string when there is none.
std::string validateProfile(const Profile& p);

}  // namespace tessaly::profile

// The profile reader on any file text: it either refuses with a message or gives a
// valid profile whose canonical text reads back as the same profile, equal to
// itself field by field, with a plan that can be built.
#include <string>

#include "FuzzInput.h"
#include "profile/ProfileDiff.h"
#include "profile/ProfilePlan.h"
#include "profile/ProfileYaml.h"

using namespace tessaly::profile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  Profile p;
  try {
    p = parseProfile(text, "fuzz.yml");
  } catch (const ProfileError& e) {
    if (std::string(e.what()).rfind("fuzz.yml", 0) != 0) __builtin_trap();
    return 0;
  }
  if (!validateProfile(p).empty()) __builtin_trap();
  const std::string written = writeProfile(p);
  Profile again;
  try {
    again = parseProfile(written, "written.yml");
  } catch (const ProfileError&) {
    __builtin_trap();
  }
  if (!(again == p) || writeProfile(again) != written) __builtin_trap();
  if (!diffProfiles(p, p).empty()) __builtin_trap();
  (void)applyPlan(p);
  return 0;
}

#pragma once
// While it lives, a test run as root acts as an ordinary user (nobody), so that file
// permissions apply to it as they do to a user; otherwise nothing changes. Only the
// effective ids change, and they are given back when it goes.
#include <sys/types.h>
#include <unistd.h>

namespace tessaly::testing {

class Unprivileged {
 public:
  static constexpr uid_t kNobody = 65534;
  explicit Unprivileged(bool drop = true) {
    if (!drop || ::geteuid() != 0) return;
    groupDropped_ = ::setegid(kNobody) == 0;
    userDropped_ = ::seteuid(kNobody) == 0;
  }
  ~Unprivileged() {
    if (userDropped_) (void)!::seteuid(0);
    if (groupDropped_) (void)!::setegid(0);
  }
  Unprivileged(const Unprivileged&) = delete;
  Unprivileged& operator=(const Unprivileged&) = delete;

 private:
  bool groupDropped_ = false, userDropped_ = false;
};

}  // namespace tessaly::testing

// The host build keeps the current user's stores under $XDG_DATA_HOME. A
// TemporaryDataHome points it at a fresh directory for as long as it lives,
// then removes that directory and puts the old value back, so that tests
// never touch the user's real stores.
#ifndef CERTINSTALL_TESTS_PLATFORM_TEMPORARY_DATA_HOME_H
#define CERTINSTALL_TESTS_PLATFORM_TEMPORARY_DATA_HOME_H

#include <string>

class TemporaryDataHome {
 public:
  TemporaryDataHome();
  ~TemporaryDataHome();
  TemporaryDataHome(const TemporaryDataHome&) = delete;
  TemporaryDataHome& operator=(const TemporaryDataHome&) = delete;

  const std::string& path() const { return directory; }

 private:
  std::string directory;
  bool hadOldValue;
  std::string oldValue;
};

#endif

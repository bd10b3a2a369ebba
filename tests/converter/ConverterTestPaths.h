// Where the converter window's tests find their clips and the profile store the build writes.
#pragma once

#include <QString>

namespace tovamo::converter_test {

inline QString Fixture(const char* name) {
  return QString(TOVAMO_FIXTURE_DIR) + "/" + name;
}

// The folder of the store: the window reads data.dat from its program folder.
inline QString StoreDir() {
  const QString store = TOVAMO_PROFILE_STORE;
  return store.left(store.lastIndexOf('/'));
}

}  // namespace tovamo::converter_test

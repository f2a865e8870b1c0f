#include "common/random.h"

namespace qova {

RandomGenerator& processRandom() {
  static RandomGenerator generator;
  return generator;
}

}  // namespace qova

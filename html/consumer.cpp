#include "html/consumer.h"

namespace Tessarin {
namespace Html {

unsigned int InputConsumer::ConsumeAny() {
  unsigned int cp;
  return PopOne(cp) ? cp : kEof;
}

}  // namespace Html
}  // namespace Tessarin

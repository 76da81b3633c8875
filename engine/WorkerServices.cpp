#include "engine/WorkerServices.h"

#include "base/Clock.h"

namespace rw {

Clock& WorkerServices::clockToUse() const {
    return clock != nullptr ? *clock : systemClock();
}

}  // namespace rw

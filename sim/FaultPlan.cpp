#include "sim/FaultPlan.h"

namespace rw::sim {

ReplyFaults FaultPlan::draw(uint64_t requestNumber) {
    double dropDraw = random_.nextUnit();
    double corruptDraw = random_.nextUnit();
    double staleDraw = random_.nextUnit();
    ReplyFaults faults;
    faults.drop = dropDraw < settings_.dropRate || settings_.dropRequests.count(requestNumber) > 0;
    faults.corrupt = corruptDraw < settings_.corruptRate;
    faults.stale = staleDraw < settings_.staleRate;
    return faults;
}

}  // namespace rw::sim

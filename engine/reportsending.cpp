#include "reportsending.h"

namespace reportsending {

Count &thisThread()
{
    thread_local Count count;
    return count;
}

} // namespace reportsending

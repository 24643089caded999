#include "processsetup.h"

namespace ProcessSetup {

void prepare()
{
}

} // namespace ProcessSetup

#include "help.h"

#include "controller.h"

namespace ov {

void install_help(controller&)
{
}

}  // namespace ov

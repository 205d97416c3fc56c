#include "tabviewdel.h"

#include "ovtool.h"
#include "panel.h"
#include "requests.h"

bool tabviewdel::shouldSelectTabViewItem(int identifier)
{
    if (identifier != 1 || ov::rebuild_tab_allowed(ov::j.current_chip()))
        return true;
    ov::ctrller->show_message(ov::localized("two_raid1_disks_for_rebuild"));
    return false;
}

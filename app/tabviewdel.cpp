#include "tabviewdel.h"

#include "ovtool.h"
#include "requests.h"

bool tabviewdel::shouldSelectTabViewItem(int identifier)
{
    if (identifier != 1)
        return true;
    const ov::ovchip* chip = ov::j.current_chip();
    if (!ov::j.chips.empty() && chip && chip->raid1_pair_present)
        return true;
    ov::ctrller->show_message(ov::localized("two_raid1_disks_for_rebuild"));
    return false;
}

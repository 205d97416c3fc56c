// The guard of the configuration/rebuild tabs: the rebuild tab opens only for a chip
// with two disks of which one holds a RAID 1 record.
#pragma once

#include <QObject>

class tabviewdel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // identifier: 0 configuration tab, 1 rebuild tab. Shows the refusal itself.
    bool shouldSelectTabViewItem(int identifier);
};

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<!-- The device tree's texts beside its labels: tooltips and what a screen reader says of a
     node. Same format as ovraid_en.ts. -->
<context>
    <name></name>
    <!-- The device tree -->
    <message id="tree_enclosure_state">
        <source>%1 — %2</source>
        <extracomment>Tooltip and accessible text of an enclosure in the device tree: %1 the enclosure (enclosure_usb or enclosure_firewire), %2 its state (state_healthy, ...)</extracomment>
        <translation>%1 — %2</translation>
    </message>
    <message id="tree_disk">
        <source>%1, %2</source>
        <extracomment>Tooltip and accessible text of a disk in the device tree: %1 its bay, model and serial (bay_disk), %2 its size (e.g. 1.00 TB); the exact size (size_detail) follows on a line of its own</extracomment>
        <translation>%1, %2</translation>
    </message>
</context>
</TS>

// The device tree: reloading and opening it after each scan, and choosing a controller
// from it.
#include <QComboBox>
#include <QTreeView>

#include "controller.h"
#include "ovtool.h"
#include "treemodel.h"
#include "ui_controller.h"

using ov::j;

void controller::refreshtree()
{
    on_ui([&] {
        // A reset, not a new model: setModel would leave the view's old selection model
        // behind at every scan.
        treemodel_->set_decimal(check_OS_version());
        treemodel_->reload();
        // The requester waits for this, so the current controller holds still meanwhile.
        treemodel_->follow(*ui_->tree, j.current);
    });
}

void controller::expandtree()
{
    on_ui([&] { ui_->tree->expandAll(); });
}

// A click, Enter, or a move of the current row with the keys: the enclosure of the node
// becomes the current controller, as if chosen in the controller list.
void controller::tree_chosen(const QModelIndex& index)
{
    const ov::tree_node* node = treemodel_->node(index);
    if (!node || treemodel_->following())
        return;
    // During a scan or a command the choice stands; the chip list may be changing, so the
    // tree goes back to what it last showed, not to what the engine holds now.
    if (in_command_ || !begin_command()) {
        treemodel_->follow(*ui_->tree, treemodel_->chosen());
        return;
    }
    // The node's chip by its bridge: positions change at every scan.
    const int chip = j.get_controller_num(node->controller);
    QComboBox* box = ui_->controllerselectbox;
    const int row = chip < 0 ? -1 : box->findData(chip);
    if (row >= 0) {
        {
            const QSignalBlocker block(box);
            box->setCurrentIndex(row);
        }
        comboBoxSelectionDidChange(row);
    }
    treemodel_->follow(*ui_->tree, j.current);
    end_command();
}

// The device tree: reloading and opening it after each scan, and choosing a controller
// from it.
#include <QTreeView>

#include "controller.h"
#include "ovtool.h"
#include "treemodel.h"
#include "ui_controller.h"

void controller::refreshtree()
{
    on_ui([&] {
        ui_->tree->setModel(nullptr);
        treemodel_->reload();
        ui_->tree->setModel(treemodel_);
    });
}

void controller::expandtree()
{
    on_ui([&] { ui_->tree->expandAll(); });
}

void controller::tree_chosen(const QModelIndex&)
{
}

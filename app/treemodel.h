// The device tree as a Qt item model over a snapshot of the engine's outline.
#pragma once

#include <QAbstractItemModel>
#include <unordered_map>

#include "treeview.h"

class treemodel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit treemodel(const ov::treeview* source, QObject* parent = nullptr);

    // Takes a new snapshot of the outline and resets the model.
    void reload();

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;

private:
    struct place {
        const ov::tree_node* parent;
        int row;
    };
    void index_nodes(const ov::tree_node* parent, const ov::treeview::node_list& list);
    const ov::tree_node* node(const QModelIndex& index) const;

    const ov::treeview* source_;
    ov::treeview::node_list snapshot_;
    std::unordered_map<const ov::tree_node*, place> places_;
};

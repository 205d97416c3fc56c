// The device tree as a Qt item model over a snapshot of the engine's outline.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <map>
#include <unordered_map>

#include "treeview.h"

class QTreeView;

class treemodel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit treemodel(const ov::treeview* source, QObject* parent = nullptr);

    // Takes a new snapshot of the outline and resets the model.
    void reload();
    // Sizes in the host's units: powers of ten (decimal) or of two.
    void set_decimal(bool decimal) { decimal_ = decimal; }

    // The node behind an index of this model, or nullptr.
    const ov::tree_node* node(const QModelIndex& index) const;
    // The chip node of the bridge with this identity; invalid when the tree has none.
    QModelIndex chip_index(const ov::controller_t& identity) const;

    // The controller the tree last showed as chosen, and whether it is moving its view to it
    // (a move of the view's own, not a user's choice).
    const ov::controller_t& chosen() const { return chosen_; }
    bool following() const { return following_; }
    // Shows identity as the chosen controller in view: its chip node becomes current and
    // selected, unless the current node already belongs to it (a disk chosen under it stays).
    void follow(QTreeView& view, const ov::controller_t& identity);

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
    QString description(const ov::tree_node& item) const;
    QIcon icon(ov::chip_state state) const;

    const ov::treeview* source_;
    ov::treeview::node_list snapshot_;
    std::unordered_map<const ov::tree_node*, place> places_;
    bool decimal_ = true;
    ov::controller_t chosen_;
    bool following_ = false;
    mutable std::map<ov::chip_state, QIcon> icons_;
};

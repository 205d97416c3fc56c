// The controller list and the selection of the current controller, and the device tree's
// item model.
#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QStackedWidget>
#include <QTreeView>
#include <atomic>
#include <thread>

#include "window_fixture.h"

namespace ovtest {
namespace {

using window_selection = window_fixture;

// Fills the list from another thread, as the notification thread does after a scan.
void fill_list_from_notifier(controller& win)
{
    std::atomic<bool> done{false};
    std::thread t([&] {
        win.clear_controller_list();
        win.update_controller_list();
        done = true;
    });
    EXPECT_TRUE(eventually([&] { return done.load(); }));
    t.join();
}

TEST_F(window_selection, the_list_follows_map_order_and_selects_only_when_asked)
{
    // Scan order differs from map order (sorted by location or GUID).
    const int disk = add_usb_chip(blank_disk(1000000, "DISKMODEL"), empty_port, 0x200, "S123", "Disk");
    const int fw = add_firewire_chip(blank_disk(1000000, "FWMODEL"), empty_port, 0xFF, "FW");
    add_firewire_chip(empty_port, empty_port, 0x8000000000000001ULL, "Top");
    add_usb_chip(empty_port, empty_port, 0x100, "S9", "Other");
    auto* box = find<QComboBox>("controllerselectbox");
    find<QLabel>("disk0modelfield")->setText("marker");
    lib.clear_calls();

    fill_list_from_notifier(*win);
    ASSERT_EQ(box->count(), 4);
    EXPECT_EQ(box->itemText(0), "FW  (GUID: FF)");
    EXPECT_EQ(box->itemText(1), "Other  (S/N: S9)");
    EXPECT_EQ(box->itemText(2), "Disk  (S/N: S123)");
    EXPECT_EQ(box->itemText(3), "Top  (GUID: 8000000000000001)");
    // Filling chose nothing: no current controller, no panel, no engine call.
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_EQ(ov::j.get_controller_num(ov::j.current), -1);
    EXPECT_EQ(text("disk0modelfield"), "marker");
    EXPECT_TRUE(lib.calls().empty());

    win->select_first_controller();
    EXPECT_EQ(ov::j.get_controller_num(ov::j.current), fw);
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_EQ(text("disk0modelfield"), "FWMODEL");

    // Choosing the current entry again changes nothing at all.
    win->switchguishowdisk();
    find<QLabel>("disk0modelfield")->setText("marker");
    lib.clear_calls();
    emit box->activated(0);
    EXPECT_EQ(find<QStackedWidget>("guitab")->currentIndex(), 1);
    EXPECT_EQ(text("disk0modelfield"), "marker");
    EXPECT_TRUE(lib.calls().empty());

    // Another entry: it becomes current, the main page shows and the panel is its.
    emit box->activated(2);
    EXPECT_EQ(ov::j.get_controller_num(ov::j.current), disk);
    EXPECT_EQ(find<QStackedWidget>("guitab")->currentIndex(), 0);
    EXPECT_EQ(text("disk0modelfield"), "DISKMODEL");

    // A rescan keeps the current controller shown as chosen.
    fill_list_from_notifier(*win);
    EXPECT_EQ(box->currentIndex(), 2);
    EXPECT_EQ(ov::j.get_controller_num(ov::j.current), disk);
}

TEST_F(window_selection, with_no_bridge_the_panel_is_empty_and_the_list_text_blank)
{
    show_chip(add_usb_chip(blank_disk(1000000, "GONE"), empty_port));
    fill_list_from_notifier(*win);
    win->select_first_controller();
    ASSERT_EQ(find<QComboBox>("controllerselectbox")->currentText(), "Disk  (S/N: S123)");

    ov::j.chips.clear();
    ov::j.controller_map.clear();
    fill_list_from_notifier(*win);
    win->select_first_controller();
    EXPECT_EQ(find<QComboBox>("controllerselectbox")->count(), 0);
    EXPECT_EQ(find<QComboBox>("controllerselectbox")->currentText(), "");
    EXPECT_EQ(text("disk0modelfield"), "");
    EXPECT_EQ(text("disk0caplabel"), "");
    EXPECT_FALSE(shown("tree"));
    EXPECT_FALSE(enabled("confirmbutton"));
}

TEST_F(window_selection, switching_away_from_a_followed_rebuild_ends_its_poller_first)
{
    const uint64_t set = 1000000;
    ov::ovdisk source = member_disk(ov::mode_raid1, set + 16, set);
    source.rebuild_flag = true;
    const int a = add_usb_chip(source, member_disk(ov::mode_raid1, set + 16, set), 0x100);
    chip(a).raid_configured = true;
    chip(a).raid_mode = ov::mode_raid1;
    chip(a).raid_capacity = set;
    chip(a).rebuilding = chip(a).polling = true;
    chip(a).raid1_pair_present = true;
    // The other bridge holds a lone mirror half: preparing it writes a degraded record.
    ov::ovdisk lone = member_disk(ov::mode_raid1, set + 16, set);
    lone.degrade_needed = true;
    const int b = add_usb_chip(lone, empty_port, 0x200, "S2", "Second");
    const uint32_t b_service = chip(b).service;
    lib.rebuild_statuses.push_back(scripted_library::status(1000, 100));

    // Watches the first write to the new chip; set before any monitor runs, since the
    // library's threads read it.
    std::atomic<int> writes{0};
    std::atomic<bool> poller_alive_at_write{true}, bar_shown_at_write{true};
    lib.on_call = [&](const call& c) {
        if (c.service != b_service || c.name != "ovSetRaidInfo" || writes++ > 0)
            return;
        poller_alive_at_write = ov::j.chips[static_cast<size_t>(a)].poller_alive;
        bar_shown_at_write = QThread::currentThread() == qApp->thread() && shown("levelindicator");
    };
    ov::j.current = chip(a).identity;
    fill_list_from_notifier(*win);
    win->update_raid_information();
    EXPECT_TRUE(chip(a).poller_alive);
    EXPECT_TRUE(shown("levelindicator"));

    emit find<QComboBox>("controllerselectbox")->activated(1);
    // The new chip's watcher calls the library too: end it before the watch goes.
    for (int i : {a, b})
        ov::j.stop_monitors(i);
    lib.on_call = nullptr;

    EXPECT_EQ(ov::j.get_controller_num(ov::j.current), b);
    ASSERT_GT(writes.load(), 0) << "the new chip was not prepared";
    EXPECT_FALSE(poller_alive_at_write) << "the old poller still ran while the new chip was prepared";
    EXPECT_FALSE(bar_shown_at_write) << "the progress bar still showed";
    EXPECT_FALSE(chip(a).polling);
    EXPECT_FALSE(chip(a).poller_alive);
    EXPECT_EQ(alert_messages(), std::vector<QString>{"raid1_degrade_mode"});
}

// Model-checker failures arrive as warnings of this category.
std::atomic<int> model_failures{0};
QtMessageHandler previous_handler = nullptr;
void count_model_failures(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (context.category && QByteArray(context.category) == "qt.modeltest" && type != QtDebugMsg)
        ++model_failures;
    if (previous_handler)
        previous_handler(type, context, message);
}

TEST_F(window_selection, the_tree_model_is_consistent_across_reloads_and_opens_fully)
{
    model_failures = 0;
    previous_handler = qInstallMessageHandler(count_model_failures);
    auto* view = find<QTreeView>("tree");
    ov::j.tree.addchipFirewire(false);
    ov::j.tree.addraid(0, "RAID 1 (SN: S123)");
    ov::j.tree.adddisk(0, "disk A", true);
    ov::j.tree.adddisk(0, "disk B", true);
    ov::j.tree.addchipFirewire(true);
    ov::j.tree.adddisk(1, "disk C", false);
    win->refreshtree();
    QAbstractItemModel* model = view->model();
    ASSERT_NE(model, nullptr);
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Warning);
    ASSERT_EQ(model->rowCount(), 2);
    const QModelIndex raid = model->index(0, 0, model->index(0, 0));
    EXPECT_EQ(model->data(raid).toString(), "RAID 1 (SN: S123)");
    EXPECT_EQ(model->rowCount(raid), 2);
    EXPECT_EQ(model->parent(model->index(1, 0, raid)), raid);

    // Another outline, as after a rescan: fewer chips, a disk directly under the chip.
    ov::j.tree.cleartree();
    ov::j.tree.addchipFirewire(true);
    ov::j.tree.adddisk(0, "disk D", false);
    ov::j.tree.adddisk(0, "disk E", false);
    win->refreshtree();
    EXPECT_EQ(view->model(), model);
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->rowCount(model->index(0, 0)), 2);
    EXPECT_FALSE(model->hasChildren(model->index(1, 0, model->index(0, 0))));

    ov::j.tree.cleartree();
    ov::j.tree.addchipFirewire(false);
    ov::j.tree.addraid(0, "RAID 0");
    ov::j.tree.adddisk(0, "disk F", true);
    ov::j.tree.addchipFirewire(false);
    ov::j.tree.adddisk(1, "disk G", false);
    win->refreshtree();
    win->expandtree();
    int branches = 0;
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
        for (int r = 0; r < model->rowCount(parent); ++r) {
            const QModelIndex i = model->index(r, 0, parent);
            if (model->hasChildren(i)) {
                ++branches;
                EXPECT_TRUE(view->isExpanded(i)) << model->data(i).toString().toStdString();
            }
            walk(i);
        }
    };
    walk(QModelIndex());
    EXPECT_EQ(branches, 3);
    qInstallMessageHandler(previous_handler);
    EXPECT_EQ(model_failures.load(), 0);
}

}  // namespace
}  // namespace ovtest

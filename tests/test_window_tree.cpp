// The device tree beside the controller list: choosing an enclosure from it, the two staying
// in step through scans, and each enclosure's state shown on its node.
#include <QComboBox>
#include <QItemSelectionModel>
#include <QTest>
#include <QTranslator>
#include <QTreeView>
#include <functional>
#include <thread>

#include "panel.h"
#include "state_icons.h"
#include "window_fixture.h"

namespace ovtest {
namespace {

class window_tree : public window_fixture {
protected:
    QTreeView* view() const { return find<QTreeView>("tree"); }
    QComboBox* box() const { return find<QComboBox>("controllerselectbox"); }

    // A device handling run where the notification thread runs it; the test's thread keeps
    // serving the window's requests meanwhile.
    void as_notifier(const std::function<void()>& handling)
    {
        std::atomic<bool> done{false};
        std::thread t([&] {
            handling();
            done = true;
        });
        EXPECT_TRUE(eventually([&] { return done.load(); }));
        t.join();
    }
    void rescan() { as_notifier([] { ov::DeviceAdded(nullptr, 0); }); }
    void remove_bridge(uint32_t service)
    {
        unplug(service);
        as_notifier([service] { ov::DeviceRemoved(nullptr, service, ov::msg_service_terminated, nullptr); });
    }
    void pull_disk(uint32_t service, int port)
    {
        lib.identify.erase({service, port});
        lib.set_register(service, port ? ov::reg_port1_presence : ov::reg_port0_presence, 0);
    }

    // The node at a path of rows from the top: {1} the second enclosure, {1, 0, 1} its set's
    // second disk.
    QModelIndex at(std::initializer_list<int> rows) const
    {
        QModelIndex index;
        for (int row : rows)
            index = view()->model()->index(row, 0, index);
        return index;
    }
    void click(const QModelIndex& index)
    {
        ASSERT_TRUE(index.isValid());
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, view()->visualRect(index).center());
    }
    uint32_t current_service() const
    {
        const int chip = ov::j.get_controller_num(ov::j.current);
        return chip < 0 ? 0 : ov::j.chips[static_cast<size_t>(chip)].service;
    }

    // The list, the engine and the tree all name the bridge `service`: the list's entry, the
    // current controller, and the tree's current and selected node under its enclosure (on
    // the enclosure itself unless the user chose a node under it).
    void expect_in_step(uint32_t service, bool on_enclosure = true, const char* where = "")
    {
        SCOPED_TRACE(where);
        EXPECT_EQ(current_service(), service);
        const int chip = ov::j.get_controller_num(ov::j.current);
        EXPECT_EQ(box()->currentIndex(), box()->findData(chip));
        const QModelIndex current = view()->selectionModel()->currentIndex();
        ASSERT_TRUE(current.isValid());
        EXPECT_TRUE(view()->selectionModel()->isSelected(current));
        QModelIndex enclosure = current;
        while (enclosure.parent().isValid())
            enclosure = enclosure.parent();
        if (on_enclosure)
            EXPECT_EQ(current, enclosure) << "a node under the enclosure is current";
        else
            EXPECT_NE(current, enclosure) << "the node chosen under the enclosure is no longer current";
        EXPECT_EQ(enclosure.row(), box()->currentIndex()) << "tree and list show the map's order alike";
    }
};

TEST_F(window_tree, the_tree_and_the_list_choose_one_controller_and_stay_in_step_across_scans)
{
    // In key order: FireWire 0x42 (one disk), USB 0x100 (a mirror), USB 0x200 (two blank disks).
    const uint32_t fw = plug_firewire(0x42);
    const uint32_t mirror = plug_usb(0x100, "SM");
    const uint32_t blank = plug_usb(0x200, "SB");
    insert_disk(fw, 0, "Disk F", "SF");
    insert_mirror(mirror, "Disk A", "SA", "Disk B", "SB");
    insert_disk(blank, 0, "Disk C", "SC");
    insert_disk(blank, 1, "Disk D", "SD");
    rescan();
    ASSERT_EQ(box()->count(), 3);
    expect_in_step(fw, true, "first scan");

    // A click on the mirror's enclosure: its set shows and may be deleted.
    click(at({1}));
    expect_in_step(mirror, true, "enclosure clicked");
    EXPECT_EQ(text("raidmodelabel"), "raid_1");
    EXPECT_TRUE(enabled("clearconfigbutton"));

    // A click on a disk under the other USB enclosure chooses that enclosure; the disk stays
    // the tree's current node.
    click(at({2, 1}));
    expect_in_step(blank, false, "disk clicked");
    EXPECT_EQ(text("raidmodelabel"), "");
    EXPECT_FALSE(enabled("clearconfigbutton"));

    // The keys move the current node; crossing into another enclosure chooses it.
    QTest::keyClick(view(), Qt::Key_Up);
    expect_in_step(blank, false, "up to the first disk");
    QTest::keyClick(view(), Qt::Key_Up);
    expect_in_step(blank, true, "up to the enclosure");
    QTest::keyClick(view(), Qt::Key_Up);
    expect_in_step(mirror, false, "up into the mirror's disks");
    // Activated away from the current node (Enter activates the current one): the tree
    // moves onto the enclosure it chose.
    emit view()->activated(at({0, 0}));
    expect_in_step(fw, true, "disk activated");

    // The list's choice, as a user makes it, moves the tree onto the enclosure.
    box()->setCurrentIndex(2);
    emit box()->activated(2);
    expect_in_step(blank, true, "chosen in the list");

    // While a device handling holds the engine, a click changes nothing and the tree goes
    // back to the chosen enclosure.
    {
        handling_holder handling;
        click(at({1, 0, 1}));
        EXPECT_EQ(current_service(), blank);
        EXPECT_EQ(box()->currentIndex(), 2);
        EXPECT_EQ(view()->selectionModel()->currentIndex(), at({2}));
    }

    // Another bridge leaves: the chips move up, the choice and the tree follow the bridge.
    remove_bridge(fw);
    ASSERT_EQ(box()->count(), 2);
    expect_in_step(blank, true, "after another bridge left");
    EXPECT_EQ(at({1}), view()->selectionModel()->currentIndex());
    click(at({0, 0}));
    expect_in_step(mirror, false, "the set's node clicked after the rescan");
    EXPECT_EQ(text("raidmodelabel"), "raid_1");

    // The chosen bridge leaves: the first one left is chosen, in both.
    remove_bridge(mirror);
    ASSERT_EQ(box()->count(), 1);
    expect_in_step(blank, true, "after the chosen bridge left");
}

// Loads the built string table of a language while it lives.
struct string_table {
    QTranslator translator;
    explicit string_table(const char* lang)
    {
        EXPECT_TRUE(translator.load(QStringLiteral(":/i18n/ovraid_%1.qm").arg(QLatin1String(lang))));
        QCoreApplication::installTranslator(&translator);
        // The engine's texts are looked up through the same table, as the window installs it.
        ov::set_localizer([](const std::string& key) { return qtTrId(key.c_str()).toStdString(); });
    }
    ~string_table()
    {
        QCoreApplication::removeTranslator(&translator);
        ov::set_localizer([](const std::string& key) { return key; });
    }
};

QImage picture(const QVariant& icon)
{
    return icon.value<QIcon>().pixmap(16, 16).toImage();
}

TEST_F(window_tree, each_enclosure_shows_its_state_as_an_icon_and_in_words)
{
    const uint32_t healthy = plug_usb(0x100, "OVB2011");
    const uint32_t degraded = plug_usb(0x200, "OVB2012");
    const uint32_t blank = plug_usb(0x300, "OVB2013");
    plug_firewire(0x0030E0F4E0001234ULL);
    insert_mirror(healthy, "Disk A", "SA", "Disk B", "SB", 2000000000);
    insert_mirror(degraded, "Disk C", "SC", "Disk D", "SD");
    pull_disk(degraded, 1);
    insert_disk(blank, 0, "Disk E", "SE");
    insert_disk(blank, 1, "Disk F", "SF");
    // The FireWire bridge stands empty.
    rescan();
    ASSERT_EQ(view()->model()->rowCount(), 4);

    struct row {
        int node;   // in key order: the USB locations, then the FireWire GUID
        ov::chip_state state;
        const char* en;
        const char* de;
    };
    const row rows[] = {
        {0, ov::chip_state::healthy, "USB enclosure, S/N OVB2011 — healthy",
         "USB-Gehäuse, S/N OVB2011 — in Ordnung"},
        {1, ov::chip_state::degraded, "USB enclosure, S/N OVB2012 — degraded: the mirror has only one disk",
         "USB-Gehäuse, S/N OVB2012 — eingeschränkt: der Spiegel hat nur eine Platte"},
        {2, ov::chip_state::not_configured, "USB enclosure, S/N OVB2013 — not configured",
         "USB-Gehäuse, S/N OVB2013 — nicht eingerichtet"},
        {3, ov::chip_state::not_configured, "FireWire enclosure, GUID 0030E0F4E0001234 — not configured",
         "FireWire-Gehäuse, GUID 0030E0F4E0001234 — nicht eingerichtet"},
    };
    QAbstractItemModel* model = view()->model();
    for (const char* lang : {"en", "de"}) {
        const string_table table(lang);
        for (const row& r : rows) {
            SCOPED_TRACE(std::string(lang) + " node " + std::to_string(r.node));
            const QModelIndex chip = at({r.node});
            const QString words = QString::fromUtf8(lang == std::string("en") ? r.en : r.de);
            for (int role : {Qt::ToolTipRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole})
                EXPECT_EQ(model->data(chip, role).toString(), words) << "role " << role;
            EXPECT_EQ(picture(model->data(chip, Qt::DecorationRole)), picture(ov::state_icon(r.state)));
        }
    }
    // Three states, three different icons; the labels stay as they were, without icons below.
    EXPECT_NE(picture(model->data(at({0}), Qt::DecorationRole)), picture(model->data(at({1}), Qt::DecorationRole)));
    EXPECT_NE(picture(model->data(at({0}), Qt::DecorationRole)), picture(model->data(at({2}), Qt::DecorationRole)));
    EXPECT_NE(picture(model->data(at({1}), Qt::DecorationRole)), picture(model->data(at({2}), Qt::DecorationRole)));
    EXPECT_EQ(model->data(at({0, 0, 1})).toString(), "M1: Disk B");
    EXPECT_FALSE(model->data(at({0, 0}), Qt::DecorationRole).isValid());

    // A disk: its bay as printed, model, serial and size, the exact size below.
    const bool decimal = win->check_OS_version();
    {
        const string_table table("en");
        EXPECT_EQ(model->data(at({0, 0, 1}), Qt::ToolTipRole).toString(),
                  QString::fromStdString("Bay 2: Disk B, S/N SB, " + ov::capacity_text(2000000000, decimal) +
                                         "\n1,024,000,000,000 bytes (2,000,000,000 sectors)"));
        EXPECT_EQ(model->data(at({1, 0}), Qt::AccessibleTextRole).toString().section('\n', 0, 0),
                  QString::fromStdString("Bay 1: Disk C, S/N SC, " + ov::capacity_text(1000000, decimal)));
    }
    {
        const string_table table("de");
        EXPECT_TRUE(model->data(at({2, 1}), Qt::ToolTipRole).toString().startsWith("Schacht 2: Disk F, S/N SF, "));
    }

    // Every scan reloads the same model under the same selection model: none is left behind.
    QItemSelectionModel* selection = view()->selectionModel();
    const auto selection_models = view()->findChildren<QItemSelectionModel*>().size();
    for (int i = 0; i < 20; ++i)
        win->refreshtree();
    rescan();
    EXPECT_EQ(view()->selectionModel(), selection);
    EXPECT_EQ(view()->model(), model);
    EXPECT_EQ(view()->findChildren<QItemSelectionModel*>().size(), selection_models);
}

}  // namespace
}  // namespace ovtest

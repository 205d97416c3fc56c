// What the window says to a user beyond its fields: why each closed action is closed, what
// the blank panel says, the clear-disk question, numbers in German, and an accessible name
// for every control a screen reader reaches, in each state a user meets.
#include <QAccessible>
#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTranslator>

#include "appsetup.h"
#include "numbers.h"
#include "window_fixture.h"

namespace ovtest {
namespace {

constexpr uint64_t disk_size = 1000000;

using window_words = window_fixture;

// Each closed action's tooltip and accessible description, by the chip that closes it.
struct closed_case {
    const char* what;
    std::function<int()> make;   // the chip to show; -1 for none
    const char* row;             // the RAID type chosen
    std::vector<std::pair<const char*, const char*>> says;   // button, the reason's key
};

// Empties the chip list between the states of one test.
void no_chips()
{
    ov::stop_engine_threads();
    ov::j.chips.clear();
    ov::j.setup_controller_map();
    ov::j.current = {};
}

TEST_F(window_words, every_closed_action_says_why_and_an_open_one_says_what_it_does)
{
    const uint64_t set = disk_size - 16;
    const std::vector<closed_case> cases = {
        {"no enclosure", [] { return -1; }, "raid_row_1",
         {{"confirmbutton", "refuse_no_enclosure"}, {"clearconfigbutton", "refuse_no_enclosure"},
          {"rebuild0to1button", "refuse_no_enclosure"}, {"warmbootbutton", "refuse_no_enclosure"}}},
        {"two blank disks, no type chosen", [this] { return add_usb_chip(blank_disk(disk_size), blank_disk(disk_size)); },
         "raid_row_3",
         {{"confirmbutton", "refuse_choose_type"}, {"clearconfigbutton", "refuse_no_set"},
          {"cleardisk0button", "refuse_no_record"}, {"rebuild0to1button", "refuse_not_half"}}},
        {"a mirror half and a replacement too small for it",
         [this, set] { return add_usb_chip(member_disk(ov::mode_raid1, disk_size, set), blank_disk(disk_size - 400)); },
         "raid_row_1",
         {{"rebuild0to1button", "refuse_target_small"}, {"rebuild1to0button", "refuse_not_half"},
          {"clearconfigbutton", "refuse_set_incomplete"}}},
        {"an empty bay", [this] { return add_usb_chip(blank_disk(disk_size), ov::ovdisk{}); }, "raid_row_1",
         {{"confirmbutton", "refuse_bay_empty"}, {"cleardisk1button", "refuse_bay_empty"}}},
        {"a rebuild running", [this] { return rebuilding_mirror(); }, "raid_row_1",
         {{"rebuild0to1button", "refuse_rebuild_running"}, {"rebuild1to0button", "refuse_rebuild_running"}}},
    };
    for (const closed_case& c : cases) {
        SCOPED_TRACE(c.what);
        no_chips();
        find<QRadioButton>(c.row)->setChecked(true);
        const int i = c.make();
        if (i >= 0)
            show_chip(i);
        else
            win->update_raid_information();
        for (const auto& [name, key] : c.says) {
            QWidget* w = find(name);
            EXPECT_FALSE(w->isEnabled()) << name;
            // Said as a sentence: the clause's first letter is a capital.
            EXPECT_TRUE(w->toolTip().startsWith(QString::fromLatin1(key).replace(0, 1, QChar(key[0]).toUpper())))
                << name << ": " << w->toolTip().toStdString();
            EXPECT_EQ(w->accessibleDescription(), w->toolTip()) << name;
        }
    }
    // Opened again, an action says what it does.
    no_chips();
    find<QRadioButton>("raid_row_1")->setChecked(true);
    show_chip(add_usb_chip(member_disk(ov::mode_raid1, disk_size, set), blank_disk(disk_size)));
    EXPECT_TRUE(enabled("rebuild0to1button"));
    EXPECT_EQ(find("rebuild0to1button")->toolTip(), "rebuild_0_to_1_tooltip");
    EXPECT_EQ(find("warmbootbutton")->toolTip(), "warm_boot_tooltip");
}

TEST_F(window_words, a_scan_and_a_restart_say_so_in_the_blank_panel_and_the_closed_actions)
{
    win->update_raid_information();
    EXPECT_TRUE(shown("panelstatelabel"));
    EXPECT_EQ(text("panelstatelabel"), "empty_state");
    EXPECT_FALSE(enabled("raidconfigradiobutton"));
    EXPECT_FALSE(enabled("warmbootbutton"));

    win->startworking();
    EXPECT_EQ(text("panelstatelabel"), "working");
    EXPECT_EQ(find("confirmbutton")->toolTip(), "Working");
    win->stopworking();

    show_chip(add_usb_chip(blank_disk(disk_size), blank_disk(disk_size)));
    EXPECT_FALSE(shown("panelstatelabel"));
    EXPECT_TRUE(enabled("raidconfigradiobutton"));
    ASSERT_TRUE(enabled("warmbootbutton"));
    find<QPushButton>("warmbootbutton")->click();
    win->cleargui();
    EXPECT_EQ(text("panelstatelabel"), "restarting");
    EXPECT_EQ(find("warmbootbutton")->toolTip(), "Restarting");
}

TEST_F(window_words, the_clear_buttons_name_their_bay_and_the_question_names_the_disk)
{
    QTranslator english;
    ASSERT_TRUE(english.load(QStringLiteral(":/i18n/ovraid_en.qm")));
    QCoreApplication::installTranslator(&english);
    ov::set_localizer([](const std::string& key) { return qtTrId(key.c_str()).toStdString(); });
    win.reset();
    launch();
    const int i = add_usb_chip(member_disk(ov::mode_raid0, disk_size, disk_size * 2, "Kestrel KS1", "KS-0001"),
                               member_disk(ov::mode_raid0, disk_size, disk_size * 2, "Kestrel KS2", "KS-0002"));
    show_chip(i);
    for (const char* name : {"cleardisk0button", "cleardisk1button"}) {
        const auto* b = find<QPushButton>(name);
        EXPECT_TRUE(b->text().startsWith("Clear Bay ")) << name;
        EXPECT_FALSE(b->accessibleName().isEmpty()) << name;
    }
    EXPECT_EQ(find<QPushButton>("cleardisk1button")->text(), QString::fromUtf8("Clear Bay 2\u2026"));
    alerts.clear();
    answers = {0};
    find<QPushButton>("cleardisk1button")->click();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].message.startsWith("The RAID record of the disk in Bay 2 (Kestrel KS2, S/N KS-0002)"))
        << alerts[0].message.toStdString();
    win.reset();
    QCoreApplication::removeTranslator(&english);
}

TEST_F(window_words, another_controller_brings_the_default_raid_type_back_and_each_entry_names_its_enclosure)
{
    const int a = add_usb_chip(blank_disk(disk_size), blank_disk(disk_size), 0x100, "SA");
    add_usb_chip(blank_disk(disk_size), blank_disk(disk_size), 0x200, "SB");
    win->update_controller_list();
    win->select_first_controller();
    find<QRadioButton>("raid_row_2")->click();
    EXPECT_EQ(win->selected_row(), 2);
    auto* box = find<QComboBox>("controllerselectbox");
    EXPECT_EQ(box->itemData(1, Qt::ToolTipRole).toString(), "enclosure_usb") << "the entry's name in every text's words";
    win->comboBoxSelectionDidChange(1 - box->currentIndex());
    EXPECT_EQ(win->selected_row(), ov::first_row);
    EXPECT_NE(ov::j.get_controller_num(ov::j.current), a);
}

TEST_F(window_words, numbers_and_sizes_are_german_in_a_german_window)
{
    ov::install_translations(*static_cast<QApplication*>(QCoreApplication::instance()), QStringLiteral("de"));
    ov::ovdisk big = member_disk(ov::mode_raid1, 1953525168ULL, 1953525152ULL, "K", "S1");
    show_chip(add_usb_chip(big, blank_disk(1953525168ULL - 400168, "K", "S2")));
    EXPECT_EQ(text("disk0caplabel"), "1,00 TB");
    EXPECT_EQ(find("disk0caplabel")->toolTip(),
              QString::fromUtf8("1.000.204.877.824 Byte (1.953.525.152 Sektoren)"));
    EXPECT_TRUE(find("rebuild0to1button")->toolTip().contains(QString::fromUtf8("400.168 Sektoren (195 MiB)")))
        << find("rebuild0to1button")->toolTip().toStdString();
    EXPECT_EQ(ov::percent_text(21.7), "21,7\u00a0%");
    // Back to the form the other suites expect.
    for (QTranslator* t : qApp->findChildren<QTranslator*>())
        QCoreApplication::removeTranslator(t);
    ov::set_number_format({});
    ov::set_localizer([](const std::string& key) { return key; });
}

// Every control a screen reader reaches has a name, in each state a user meets.
TEST_F(window_words, every_visible_control_has_an_accessible_name_in_every_state)
{
    const uint64_t set = disk_size - 16;
    const std::vector<std::pair<const char*, std::function<int()>>> states = {
        {"no enclosure", [] { return -1; }},
        {"healthy mirror",
         [&] {
             const int i = add_usb_chip(member_disk(ov::mode_raid1, disk_size, set),
                                        member_disk(ov::mode_raid1, disk_size, set));
             chip(i).raid_configured = true;
             chip(i).raid_mode = ov::mode_raid1;
             chip(i).raid_capacity = set;
             return i;
         }},
        {"blank pair", [] { return -2; }},
        {"degraded half and a blank disk",
         [&] { return add_usb_chip(member_disk(ov::mode_raid1, disk_size, set), blank_disk(disk_size)); }},
        {"rebuilding", [&] { return rebuilding_mirror(); }},
    };
    size_t visited = 0;
    const auto nameless = [&] {
        std::vector<std::string> out;
        QWidget* window = win->mainwindow();
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                                 qobject_cast<QAbstractItemView*>(w) || qobject_cast<QProgressBar*>(w) ||
                                 (qobject_cast<QLabel*>(w) && !qobject_cast<QLabel*>(w)->pixmap().isNull());
            if (!control || !w->isVisibleTo(window) || w->objectName().startsWith("qt_"))
                continue;
            ++visited;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
                out.push_back(w->objectName().toStdString() + " (" + w->metaObject()->className() + ")");
            // The tabs and the tree's rows are reached one by one.
            for (int k = 0; a && k < a->childCount(); ++k)
                if (QAccessibleInterface* child = a->child(k);
                    child && (child->role() == QAccessible::PageTab || child->role() == QAccessible::TreeItem) &&
                    child->text(QAccessible::Name).trimmed().isEmpty())
                    out.push_back(w->objectName().toStdString() + " child " + std::to_string(k));
        }
        return out;
    };
    win->mainwindow()->show();
    for (const auto& [what, make] : states) {
        SCOPED_TRACE(what);
        no_chips();
        int i = make();
        if (i == -2)
            i = add_firewire_chip(blank_disk(disk_size, "FW A", "FA"), blank_disk(disk_size + 8, "FW B", "FB"), 0xFF);
        win->update_controller_list();
        if (i >= 0)
            show_chip(i);
        else
            win->update_raid_information();
        for (const char* page : {"mainguibutton", "showdiskguibutton"}) {
            button(page)->click();
            for (int tab = 0; tab < 2; ++tab) {
                find<QTabWidget>("tabview")->setCurrentIndex(tab);
                EXPECT_EQ(nameless(), std::vector<std::string>{}) << page << " tab " << tab;
            }
        }
        button("mainguibutton")->click();
    }
    // The walk reached the window's controls: buttons, list, tree, tabs, pictures.
    EXPECT_GT(visited / (states.size() * 4), 10u);
}

}  // namespace
}  // namespace ovtest

// Which registered uninstall commands a run executes: all of them by number, last first,
// in an uninstall; after a failed install only what that install registered; after a
// failed update nothing. Free of Windows: built natively too.
#include "engine/UninstallPlan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(UninstallPlan, OrderIsByNumberLastRegisteredFirst)
{
    const ziz::UninstallEntries entries = {{L"0", L"zero"}, {L"1", L"one"}, {L"2", L"two"}, {L"9", L"nine"},
                                           {L"10", L"ten"}, {L"11", L"eleven"}, {L"x", L"named"}};
    std::vector<std::wstring> names;
    for (const ziz::UninstallEntry& entry : ziz::UninstallOrder(entries)) names.push_back(entry.name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"11", L"10", L"9", L"2", L"1", L"0", L"x"}));
}

TEST(UninstallPlan, RollBackTable)
{
    using Entries = ziz::UninstallEntries;
    using Plan = std::vector<ziz::UninstallEntry>;
    const Entries before = {{L"0", L"msiexec /x {A} /qn"}, {L"2", L"msiexec /x {B} /qn"}};
    const Entries after = {{L"0", L"msiexec /x {A} /qn"},  {L"1", L"msiexec /x {C} /qn"},
                           {L"2", L"msiexec /x {B} /qn"},  {L"3", L"msiexec /x {B} /qn"},
                           {L"10", L"msiexec /x {D} /qn"}, {L"9", L"msiexec /x {E} /qn"}};
    struct Case {
        const char* name;
        ziz::InstallMode mode;
        Entries before, now;
        Plan plan;
    };
    for (const Case& c : {
             Case{"install: only what it registered, last first", ziz::INSTALL, before, after,
                  Plan{{L"10", L"msiexec /x {D} /qn"}, {L"9", L"msiexec /x {E} /qn"}, {L"1", L"msiexec /x {C} /qn"}}},
             Case{"install that registered nothing", ziz::INSTALL, before, before, Plan{}},
             Case{"install on an empty machine", ziz::INSTALL, Entries{}, before,
                  Plan{{L"2", L"msiexec /x {B} /qn"}, {L"0", L"msiexec /x {A} /qn"}}},
             // An earlier component whose entry an installer renumbered is still the earlier one.
             Case{"install that moved an earlier entry", ziz::INSTALL, before,
                  Entries{{L"0", L"msiexec /x {A} /qn"}, {L"5", L"msiexec /x {B} /qn"}}, Plan{}},
             Case{"update", ziz::UPDATE, before, after, Plan{}},
             Case{"update on an empty machine", ziz::UPDATE, Entries{}, after, Plan{}},
             Case{"uninstall", ziz::UNINSTALL, Entries{}, after, Plan{}},
         }) {
        EXPECT_EQ(ziz::RollBackPlan(c.mode, c.before, c.now), c.plan) << c.name;
    }
    EXPECT_EQ(ziz::RollBackLine(ziz::INSTALL, Plan{{L"3", L"msiexec /x {C} /qn"}, {L"1", L"u one"}}),
              "Rolling back what this run installed: entry 3 (msiexec /x {C} /qn), entry 1 (u one)");
    EXPECT_EQ(ziz::RollBackLine(ziz::INSTALL, Plan{}),
              "Rolling back nothing: this run installed no component that registered an uninstall");
    EXPECT_EQ(ziz::RollBackLine(ziz::UPDATE, Plan{}),
              "Rolling back nothing: an update keeps the components it updated and the entries of earlier runs");
}

}  // namespace

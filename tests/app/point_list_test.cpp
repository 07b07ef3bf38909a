// The workbench's point list without a window: what each edit, click and
// removal leaves, what the views are told, and how Save and the fit read
// the points; then the fit monitor and the table over the same list.
#include "tests/app/app_fixture.h"

#include "app/fit_monitor.h"
#include "app/point_list.h"
#include "app/points_table_model.h"
#include "platform/exceptions.h"

#include <QSignalSpy>

#include <functional>

namespace {

using TRows = std::vector<QStringList>; // column, row, Y, X, role of every point

TRows Rows(const TPointList& list)
{
    TRows rows;
    for (const TPointEntry& entry : list.Entries())
        rows.push_back({entry.Col, entry.Row, entry.East, entry.North,
                        entry.Role == TPointRole::Check ? "check" : "fitted"});
    return rows;
}

class PointListTest : public AppTest {};

TEST_F(PointListTest, EditsClicksAndRemovalsLeaveTheListAsItsViewsShowIt)
{
    TPointList list;
    QSignalSpy changed(&list, &TPointList::changed);
    QSignalSpy placed(&list, &TPointList::placed);
    const QString b = kUnplacedText, f = "fitted", c = "check";
    struct TStep {
        const char* Name;
        std::function<void()> Do;
        TRows Rows;
        int Selected;
        int Changes;          // changed signals the step gave
        QList<int> Placed;    // the numbers placed by the step
    };
    const TStep steps[] = {
        {"a new list holds two blank points", [] {}, {{b, b, "", "", f}, {b, b, "", "", f}}, 1, 0, {}},
        {"a click places point 1 and moves on to 2", [&] { list.Place(3, 7); },
         {{"3", "7", "", "", f}, {b, b, "", "", f}}, 2, 1, {1}},
        {"two more replace point 2, decimals kept to two",
         [&] {
             list.Place(8, 1);
             list.Place(100.044, 20.5);
         },
         {{"3", "7", "", "", f}, {"100.04", "20.5", "", "", f}}, 2, 2, {2, 2}},
        {"typing the same text again tells nobody",
         [&] {
             list.SetEast(0, "100");
             list.SetEast(0, "100");
         },
         {{"3", "7", "100", "", f}, {"100.04", "20.5", "", "", f}}, 2, 1, {}},
        {"a point added is selected and placed by the next click",
         [&] {
             list.Add();
             list.Place(20, 30);
         },
         {{"3", "7", "100", "", f}, {"100.04", "20.5", "", "", f}, {"20", "30", "", "", f}}, 3, 2, {3}},
        {"point 1 turned check, then removed: the others move up",
         [&] {
             list.SwitchRole(0);
             list.Remove(0);
         },
         {{"100.04", "20.5", "", "", f}, {"20", "30", "", "", f}}, 2, 2, {}},
        {"the list keeps two points, a blank one filling up", [&] { list.Remove(1); },
         {{"100.04", "20.5", "", "", f}, {b, b, "", "", f}}, 2, 1, {}},
        {"set to one point: a blank second, the selection on it",
         [&] {
             list.Select(1);
             list.SetEntries({{"5", "6", "1000", "2000", TPointRole::Check}});
         },
         {{"5", "6", "1000", "2000", c}, {b, b, "", "", f}}, 1, 1, {}},
        {"set to three with the third selected, then to two: the selection follows",
         [&] {
             list.SetEntries({{}, {}, {"1", "2", "3", "4"}});
             list.Select(3);
             list.SetEntries({{}, {}});
         },
         {{b, b, "", "", f}, {b, b, "", "", f}}, 2, 2, {}},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Name);
        changed.clear();
        placed.clear();
        step.Do();
        EXPECT_EQ(Rows(list), step.Rows);
        EXPECT_EQ(list.Selected(), step.Selected);
        EXPECT_EQ(changed.count(), step.Changes);
        QList<int> numbers;
        for (const QList<QVariant>& signal : placed)
            numbers << signal.at(0).toInt();
        EXPECT_EQ(numbers, step.Placed);
    }
}

TEST_F(PointListTest, SaveAndTheFitReadThePointsAsThePanelIsRead)
{
    const struct {
        const char* Name;
        std::vector<TPointEntry> Entries;
        std::string SaveError;                 // empty: read
        std::vector<size_t> FitRows;           // rows the fit takes
    } cases[] = {
        {"point 2 not placed: Save names the label's text",
         {{"1", "2", "10", "20"}, {"", "", "30", "40"}}, "'     ' is not a valid floating point value", {}},
        {"a third point not placed: Save stops, the fit leaves it out",
         {{"1", "2", "10", "20"}, {"3", "4", "30", "40"}, {"", "", "5", "6"}},
         "Point 3 is not placed on the picture", {0, 1}},
        {"a fourth without its X: the fit leaves it out (Save checks the boxes before)",
         {{"1", "2", "10", "20"}, {"3", "4", "30", "40"}, {"5", "6", "50", "60", TPointRole::Check},
          {"7", "8", "70", ""}},
         "", {0, 1, 2}},
        {"the two of the panel, a comma as decimal point",
         {{"1", "2", "10,5", "20"}, {"3", "4", "30", "40"}}, "", {0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TPointList list;
        list.SetEntries(c.Entries);
        std::vector<size_t> rowOf;
        const TControlPoints fitted = list.ReadComplete(rowOf);
        EXPECT_EQ(rowOf, c.FitRows);
        ASSERT_EQ(fitted.size(), c.FitRows.size());
        for (size_t i = 0; i < fitted.size(); ++i)
            EXPECT_EQ(fitted[i].Id, static_cast<int>(c.FitRows[i]) + 1);
        if (c.SaveError.empty()) {
            const TControlPoints points = list.ReadAll();
            ASSERT_EQ(points.size(), c.Entries.size());
            EXPECT_EQ(points[0].East, c.Entries[0].East == "10,5" ? 10.5 : 10);
            EXPECT_EQ(points[1].Row, 4);
            EXPECT_EQ(points.back().Role, c.Entries.back().Role);
            continue;
        }
        try {
            list.ReadAll();
            ADD_FAILURE() << "read";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message().rfind(c.SaveError, 0), 0u) << error.Message();
        }
    }
}

TEST_F(PointListTest, TheTableAndTheFitFollowTheList)
{
    TPointList list;
    TFitMonitor fit(list);
    TPointsTableModel table(list, fit);
    auto cell = [&](int row, int column) { return table.data(table.index(row, column)).toString(); };
    list.SetEntries({{"0", "0", "100", "200"}, {"3", "4", "106", "208"}});
    EXPECT_EQ(fit.Summary(), "Misfit 8.000 px, rotation -106.26\u00b0 \u2013 Point 2 lies 8.000 pixels from its "
                             "coordinates \u2013 The map axes point the wrong way (Y and X swapped, or the sign "
                             "toggle needed)");
    EXPECT_EQ(cell(1, TPointsTableModel::coResidual), "8.000");
    fit.SetTransform("similarity");
    EXPECT_EQ(cell(1, TPointsTableModel::coResidual), "0.000");

    list.Add();
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_TRUE(table.setData(table.index(2, TPointsTableModel::coColumn), "12.5"));
    EXPECT_FALSE(table.setData(table.index(2, TPointsTableModel::coRow), "x"));
    EXPECT_EQ(Messages.Beeps, 1);
    EXPECT_TRUE(table.setData(table.index(2, TPointsTableModel::coEast), "7"));
    EXPECT_EQ(Rows(list)[2], (QStringList{"12.5", kUnplacedText, "7", "", "fitted"}));
    list.Remove(2);
    EXPECT_EQ(table.rowCount(), 2);
    list.SetEast(1, "");
    EXPECT_EQ(fit.Summary(), "");
    EXPECT_EQ(cell(1, TPointsTableModel::coResidual), "");
    EXPECT_EQ(fit.Model(), nullptr);
}

} // namespace

#include "app/point_list.h"

#include <algorithm>

namespace {

// A value label's text: five blanks before its point is placed.
QString LabelText(const QString& text)
{
    return text.trimmed().isEmpty() ? kUnplacedText : text;
}

TPointEntry Shown(TPointEntry entry)
{
    entry.Col = LabelText(entry.Col);
    entry.Row = LabelText(entry.Row);
    return entry;
}

} // namespace

TPointList::TPointList(QObject* parent) : QObject(parent), FEntries(2, Shown({}))
{
}

void TPointList::Changed()
{
    emit changed();
    if (FSelected > Count())
        Select(Count());
}

void TPointList::SetEntries(std::vector<TPointEntry> entries)
{
    entries.resize(std::max<size_t>(entries.size(), 2));
    std::transform(entries.begin(), entries.end(), entries.begin(), Shown);
    if (entries == FEntries)
        return;
    FEntries = std::move(entries);
    Changed();
}

void TPointList::SetEntry(int row, const TPointEntry& entry)
{
    TPointEntry& target = FEntries.at(static_cast<size_t>(row));
    const TPointEntry shown = Shown(entry);
    if (target == shown)
        return;
    target = shown;
    Changed();
}

void TPointList::SetPixelTexts(int row, const QString& col, const QString& rowText)
{
    TPointEntry entry = At(row);
    entry.Col = col;
    entry.Row = rowText;
    SetEntry(row, entry);
}

void TPointList::SetEast(int row, const QString& text)
{
    TPointEntry entry = At(row);
    entry.East = text;
    SetEntry(row, entry);
}

void TPointList::SetNorth(int row, const QString& text)
{
    TPointEntry entry = At(row);
    entry.North = text;
    SetEntry(row, entry);
}

void TPointList::SetRole(int row, TPointRole role)
{
    TPointEntry entry = At(row);
    entry.Role = role;
    SetEntry(row, entry);
}

void TPointList::Add()
{
    FEntries.push_back(Shown({}));
    Changed();
    Select(Count());
}

void TPointList::Remove(int row)
{
    if (row < 0 || row >= Count())
        return;
    std::vector<TPointEntry> entries = FEntries;
    entries.erase(entries.begin() + row);
    SetEntries(std::move(entries));
    // The list tells its views even when a blank point gave way to a blank one.
    emit selectionChanged(FSelected);
}

void TPointList::SwitchRole(int row)
{
    if (row >= 0 && row < Count())
        SetRole(row, At(row).Role == TPointRole::Fitted ? TPointRole::Check : TPointRole::Fitted);
}

void TPointList::Select(int number)
{
    FSelected = number;
    emit selectionChanged(number);
}

void TPointList::Place(double col, double row)
{
    const int number = FSelected;
    if (number < 1 || number > Count())
        return;
    SetPixelTexts(number - 1, PixelText(col), PixelText(row));
    if (number == 1)
        Select(2);
    emit placed(number);
}

TControlPoints TPointList::ReadPanelPair() const
{
    TControlTexts texts;
    texts.Row1 = At(0).Row.toStdString();
    texts.Col1 = At(0).Col.toStdString();
    texts.Row2 = At(1).Row.toStdString();
    texts.Col2 = At(1).Col.toStdString();
    texts.Y1 = At(0).East.toStdString();
    texts.X1 = At(0).North.toStdString();
    texts.Y2 = At(1).East.toStdString();
    texts.X2 = At(1).North.toStdString();
    texts.DecimalSeparator = LocaleDecimalSeparator();
    TControlPoints points = ReadControlPoints(texts);
    points[0].Role = At(0).Role;
    points[1].Role = At(1).Role;
    return points;
}

TControlPoints TPointList::ReadAll() const
{
    TControlPoints points = ReadPanelPair();
    for (int row = 2; row < Count(); ++row)
        points.push_back(ReadPointEntry(At(row), row + 1));
    return points;
}

TControlPoints TPointList::ReadComplete(std::vector<size_t>& rowOf) const
{
    rowOf.clear();
    if (!Complete(At(0)) || !Complete(At(1)))
        return {};
    TControlPoints points = ReadPanelPair();
    rowOf = {0, 1};
    for (int row = 2; row < Count(); ++row)
        if (Complete(At(row))) {
            points.push_back(ReadPointEntry(At(row), row + 1));
            rowOf.push_back(static_cast<size_t>(row));
        }
    return points;
}

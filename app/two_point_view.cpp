#include "app/two_point_view.h"

#include "app/point_list.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

TTwoPointView::TTwoPointView(TPointList& points, const TControls& controls, QObject* parent)
    : QObject(parent), FPoints(points), FControls(controls)
{
    connect(&FPoints, &TPointList::changed, this, &TTwoPointView::Show);
    connect(&FPoints, &TPointList::selectionChanged, this, [this](int number) {
        FControls.First->setChecked(number == 1);
        FControls.Second->setChecked(number == 2);
    });
    connect(&FPoints, &TPointList::placed, this, [this](int number) {
        if (number == 2)
            FControls.Boxes[0]->setFocus();
    });
    for (int box = 0; box < 4; ++box)
        connect(FControls.Boxes[box], &QLineEdit::textChanged, this, [this, box](const QString& text) {
            if (FShowing)
                return;
            if (box % 2 == 0)
                FPoints.SetEast(box / 2, text);
            else
                FPoints.SetNorth(box / 2, text);
        });
    Show();
}

void TTwoPointView::Show()
{
    FShowing = true;
    FControls.Row1->setText(FPoints.At(0).Row);
    FControls.Col1->setText(FPoints.At(0).Col);
    FControls.Row2->setText(FPoints.At(1).Row);
    FControls.Col2->setText(FPoints.At(1).Col);
    for (int box = 0; box < 4; ++box) {
        const TPointEntry& entry = FPoints.At(box / 2);
        const QString& text = box % 2 == 0 ? entry.East : entry.North;
        if (FControls.Boxes[box]->text() != text)
            FControls.Boxes[box]->setText(text);
    }
    FShowing = false;
}

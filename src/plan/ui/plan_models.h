#pragma once

#include "plan/move_plan.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>
#include <memory>

namespace corvalin {

// One table of a plan (pictures, removals, folders, problems) as a virtual list: rows stay in the
// plan as raw bytes, and a cell's text is made only when the view asks for it, so 100,000 rows
// scroll as smoothly as ten.
class PlanTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using CellText = std::function<QString(const MovePlan& plan, int row, int column)>;
    using RowCount = std::function<int(const MovePlan& plan)>;
    // A cell's picture (Qt::DecorationRole), or nothing.
    using Decoration = std::function<QVariant(int row, int column)>;

    PlanTableModel(QStringList headers, RowCount rows, CellText text, QObject* parent = nullptr);

    // Shows `plan`; an empty pointer shows nothing.
    void setPlan(std::shared_ptr<const MovePlan> plan);
    // The pictures shown in the cells; none when empty. The views are to repaint.
    void setDecoration(Decoration decoration) { m_decoration = std::move(decoration); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList m_headers;
    RowCount m_rows;
    CellText m_text;
    Decoration m_decoration;
    std::shared_ptr<const MovePlan> m_plan;
};

// The plan's four tables.
PlanTableModel* makePicturesModel(QObject* parent);
PlanTableModel* makeRemovalsModel(QObject* parent);
PlanTableModel* makeDuplicatesModel(QObject* parent);
PlanTableModel* makeFoldersModel(QObject* parent);
PlanTableModel* makeProblemsModel(QObject* parent);

} // namespace corvalin

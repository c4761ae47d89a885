#include "plan/ui/plan_models.h"

#include "app/ui/screen_room.h"
#include "app/ui/ui_text.h"
#include "plan/plan_text.h"

namespace corvalin {

namespace {

int rowsOf(std::size_t size) {
    return static_cast<int>(size);
}

QString bytes(std::uint64_t count) {
    return QString::fromStdString(byteText(count));
}

QString problemKindText(ProblemKind kind) {
    switch (kind) {
    case ProblemKind::RunStops:
        return QStringLiteral("移動が止まります");
    case ProblemKind::Unreadable:
        return QStringLiteral("読めないフォルダ");
    case ProblemKind::NameTaken:
        return QStringLiteral("使用済みの名前");
    case ProblemKind::LeftOut:
        return QStringLiteral("対象外");
    case ProblemKind::DownloadArriving:
        return QStringLiteral("ダウンロード中");
    case ProblemKind::NameTooLong:
        return QStringLiteral("名前が長すぎる");
    case ProblemKind::HiddenPicture:
        return QStringLiteral("隠しファイル");
    case ProblemKind::InSourceParent:
        return QStringLiteral("親フォルダの画像");
    case ProblemKind::NotHeldByDisk:
        return QStringLiteral("移動先に置けない");
    }
    return {};
}

} // namespace

PlanTableModel::PlanTableModel(QStringList headers, RowCount rows, CellText text, QObject* parent)
    : QAbstractTableModel(parent), m_headers(std::move(headers)), m_rows(std::move(rows)),
      m_text(std::move(text)) {}

void PlanTableModel::setPlan(std::shared_ptr<const MovePlan> plan) {
    beginResetModel();
    m_plan = std::move(plan);
    endResetModel();
}

int PlanTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_plan ? 0 : m_rows(*m_plan);
}

int PlanTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant PlanTableModel::data(const QModelIndex& index, int role) const {
    if (m_plan && index.isValid() && role == Qt::DecorationRole && m_decoration)
        return m_decoration(index.row(), index.column());
    if (!m_plan || !index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    // The view elides a long path in the middle; its tool tip holds the whole of it.
    const QString text = m_text(*m_plan, index.row(), index.column());
    return role == Qt::ToolTipRole ? wrappedToolTip(text) : text;
}

QVariant PlanTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return m_headers.value(section);
}

PlanTableModel* makePicturesModel(QObject* parent) {
    return new PlanTableModel(
        {QStringLiteral("元のパス"), QStringLiteral("新しい名前"), QStringLiteral("大きさ")},
        [](const MovePlan& plan) { return rowsOf(plan.pictures.size()); },
        [](const MovePlan& plan, int row, int column) {
            const PlanPicture& picture = plan.pictures[static_cast<std::size_t>(row)];
            if (column == 0)
                return displayName(picture.from);
            return column == 1 ? displayName(picture.newName) : bytes(picture.bytes);
        },
        parent);
}

PlanTableModel* makeRemovalsModel(QObject* parent) {
    return new PlanTableModel(
        {QStringLiteral("削除するファイル"), QStringLiteral("大きさ")},
        [](const MovePlan& plan) { return rowsOf(plan.removals.size()); },
        [](const MovePlan& plan, int row, int column) {
            const PlanRemoval& removal = plan.removals[static_cast<std::size_t>(row)];
            return column == 0 ? displayName(removal.path) : bytes(removal.bytes);
        },
        parent);
}

PlanTableModel* makeDuplicatesModel(QObject* parent) {
    return new PlanTableModel(
        {QStringLiteral("取り除く画像"), QStringLiteral("同じ内容の画像（移動先）"),
         QStringLiteral("大きさ")},
        [](const MovePlan& plan) { return rowsOf(plan.duplicates.size()); },
        [](const MovePlan& plan, int row, int column) {
            const PlanDuplicate& duplicate = plan.duplicates[static_cast<std::size_t>(row)];
            if (column == 0)
                return displayName(duplicate.path);
            return column == 1 ? displayName(duplicate.twin) : bytes(duplicate.bytes);
        },
        parent);
}

PlanTableModel* makeFoldersModel(QObject* parent) {
    return new PlanTableModel(
        {QStringLiteral("削除する子フォルダ"), QStringLiteral("中に残る隠しファイルなど"),
         QStringLiteral("大きさ")},
        [](const MovePlan& plan) { return rowsOf(plan.folders.size()); },
        [](const MovePlan& plan, int row, int column) {
            const PlanFolder& folder = plan.folders[static_cast<std::size_t>(row)];
            if (column == 0)
                return displayName(folder.path);
            return column == 1 ? QStringLiteral("%1 個").arg(folder.hiddenItems) : bytes(folder.hiddenBytes);
        },
        parent);
}

PlanTableModel* makeProblemsModel(QObject* parent) {
    return new PlanTableModel(
        {QStringLiteral("種類"), QStringLiteral("場所"), QStringLiteral("内容")},
        [](const MovePlan& plan) { return rowsOf(plan.problems.size()); },
        [](const MovePlan& plan, int row, int column) {
            const PlanProblem& problem = plan.problems[static_cast<std::size_t>(row)];
            if (column == 0)
                return problemKindText(problem.kind);
            return column == 1 ? displayName(problem.path) : toDisplay(problem.text);
        },
        parent);
}

} // namespace corvalin

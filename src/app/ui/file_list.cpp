#include "app/ui/file_list.h"

#include "app/ui/ui_text.h"
#include "platform/file_ops.h"

#include <QAbstractListModel>
#include <QKeyEvent>

namespace corvalin {

// Converts names for display only when a row is drawn, so a folder of ten thousand files
// costs one directory read, not ten thousand widget items.
class FileNamesModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setNames(const std::vector<std::string>* names) {
        beginResetModel();
        m_names = names;
        endResetModel();
    }
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() || !m_names ? 0 : static_cast<int>(m_names->size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        return displayName((*m_names)[static_cast<std::size_t>(index.row())]);
    }

private:
    const std::vector<std::string>* m_names = nullptr;
};

FileList::FileList(Selection selection, QWidget* parent)
    : QListView(parent), m_model(new FileNamesModel(this)) {
    setModel(m_model);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(selection == Selection::Single ? QAbstractItemView::SingleSelection
                                                    : QAbstractItemView::ExtendedSelection);
    connect(this, &QListView::clicked, this, [this] { emit fileClicked(); });
}

Status FileList::setPath(const std::filesystem::path& folder) {
    auto names = listFiles(folder);
    if (!names)
        return names.status();
    m_path = folder;
    showNames(std::move(names.value()));
    return {};
}

Status FileList::refresh() {
    return setPath(m_path);
}

// Unchanged names with nothing chosen keep the view as it is: a run refreshes the lists after
// every folder.
void FileList::showNames(std::vector<std::string> names) {
    if (names == m_names && !currentIndex().isValid() && !selectionModel()->hasSelection())
        return;
    m_model->setNames(nullptr);
    m_names = std::move(names);
    m_model->setNames(&m_names);
}

std::string FileList::fileName() const {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || current.row() >= entryCount())
        return {};
    return entry(current.row());
}

bool FileList::isSelected(int index) const {
    return selectionModel()->isRowSelected(index, QModelIndex());
}

void FileList::keyPressEvent(QKeyEvent* event) {
    const QModelIndex before = currentIndex();
    QListView::keyPressEvent(event);
    if (currentIndex() != before && currentIndex().isValid())
        emit fileClicked();
}

} // namespace corvalin

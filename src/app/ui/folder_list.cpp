#include "app/ui/folder_list.h"

#include "app/ui/ui_text.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/volumes.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyle>

namespace corvalin {

namespace fs = std::filesystem;

namespace {
constexpr int kPathRole = Qt::UserRole;
constexpr int kIndentPerLevel = 2;

QString pathBytes(const fs::path& path) {
    return QString::fromLatin1(path.native().data(), static_cast<qsizetype>(path.native().size()));
}
fs::path pathFromBytes(const QString& bytes) {
    const QByteArray latin = bytes.toLatin1();
    return fs::path(std::string(latin.constData(), static_cast<std::size_t>(latin.size())));
}
} // namespace

FolderList::FolderList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this, &FolderList::openEntry);
}

Status FolderList::setPath(const fs::path& folder) {
    const fs::path target = withoutTrailingSlash(folder.lexically_normal());
    if (const int error = folderError(target))
        return errorFromErrno("フォルダの表示", target, error);
    auto subfolders = listSubfolders(target);
    if (!subfolders)
        return subfolders.status();
    const bool changed = target != m_path;
    const bool sameEntries = !changed && subfolders.value() == m_subfolders;
    m_path = target;
    m_subfolders = std::move(subfolders.value());
    m_lastShown[m_path] = ++m_shownCount;
    showEntries(sameEntries);
    if (changed)
        emit folderChanged();
    return {};
}

Status FolderList::refresh() {
    auto subfolders = listSubfolders(m_path);
    if (!subfolders)
        return subfolders.status();
    const bool sameEntries = subfolders.value() == m_subfolders;
    m_subfolders = std::move(subfolders.value());
    showEntries(sameEntries);
    return {};
}

fs::path FolderList::folderOnVolume(const fs::path& mountPoint, const std::vector<Volume>& volumes) const {
    const fs::path* latest = nullptr;
    std::uint64_t latestCount = 0;
    for (const auto& [folder, count] : m_lastShown) {
        if (count > latestCount && volumeOf(folder, volumes) == mountPoint) {
            latest = &folder;
            latestCount = count;
        }
    }
    return latest ? nearestExistingFolder(*latest, mountPoint) : mountPoint;
}

fs::path FolderList::subfolder(int index) const {
    return joinPath(m_path, m_subfolders[static_cast<std::size_t>(index)]);
}

// A run refreshes the list after every folder it empties; rebuilding unchanged rows would cost it
// more than emptying a small folder.
void FolderList::showEntries(bool sameEntries) {
    if (sameEntries && m_currentRow < count()) {
        setCurrentRow(m_currentRow);
        return;
    }
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    clear();
    int depth = 0;
    fs::path ancestor;
    QListWidgetItem* current = nullptr;
    for (const fs::path& part : m_path) {
        if (part.empty())
            continue;
        ancestor = ancestor.empty() ? part : joinPath(ancestor, part);
        const QString label = QString(depth * kIndentPerLevel, QLatin1Char(' ')) + displayName(part);
        current = new QListWidgetItem(openIcon, label, this);
        current->setData(kPathRole, pathBytes(ancestor));
        ++depth;
    }
    for (std::size_t i = 0; i < m_subfolders.size(); ++i) {
        const QString label =
            QString(depth * kIndentPerLevel, QLatin1Char(' ')) + displayName(m_subfolders[i]);
        auto* item = new QListWidgetItem(closedIcon, label, this);
        item->setData(kPathRole, pathBytes(subfolder(static_cast<int>(i))));
    }
    setCurrentItem(current);
    m_currentRow = current ? row(current) : 0;
}

void FolderList::openEntry(QListWidgetItem* item) {
    if (!item)
        return;
    const Status opened = setPath(pathFromBytes(item->data(kPathRole).toString()));
    if (!opened)
        emit openFailed(opened.error());
}

void FolderList::keyPressEvent(QKeyEvent* event) {
    // Enter opens the highlighted folder, as a double-click does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openEntry(currentItem());
        return;
    }
    QListWidget::keyPressEvent(event);
}

} // namespace corvalin

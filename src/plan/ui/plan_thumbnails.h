#pragma once

#include "plan/move_plan.h"

#include <QObject>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QStackedWidget;
class QTabWidget;
class QTableView;

namespace corvalin {

class LargePicture;
class PictureGrid;
class PlanTableModel;
class ThumbnailStore;
class ThumbnailWorkers;

// The plan's pictures as thumbnails. The tab 「移動する画像」 gets a grid beside its table (the same
// rows: choosing a thumbnail chooses its row) and a larger view of the chosen picture; in 「同じ内容の
// 画像」 each duplicate is shown beside the picture it equals. 「画像で表示」 switches between the
// thumbnails and the tables alone. A picture's context menu opens it in the desktop's viewer.
class PlanThumbnails : public QObject {
    Q_OBJECT
public:
    PlanThumbnails(QTabWidget* tabs, QTableView* pictures, QTableView* duplicates, ThumbnailWorkers& workers,
                   bool shown);

    void setPlan(std::shared_ptr<const MovePlan> plan);
    bool isShown() const;
    // True once every thumbnail on the grid's screen is drawn (or known not to be a picture).
    bool screenComplete() const;

    QCheckBox* chkThumbnails;
    QStackedWidget* stkPictures;
    PictureGrid* lstPictures;
    LargePicture* picLarger;

signals:
    void shownChanged(bool shown);

private:
    void buildPicturesPage(QTabWidget* tabs);
    void show(bool shown);
    void showChosenPicture(int row);
    void wantWhatIsOnScreen();
    std::filesystem::path pictureFile(int row) const;
    std::filesystem::path duplicatesFile(int item) const;

    QTableView* m_pictures;
    QTableView* m_duplicates;
    PlanTableModel* m_duplicatesModel;
    ThumbnailStore* m_pictureStore;
    ThumbnailStore* m_duplicateStore;
    std::shared_ptr<const MovePlan> m_plan;
    std::vector<std::string> m_twins; // where each duplicate's twin lies before the run
    int m_plainRowHeight = 0;
    QTimer m_screenMoved;
};

} // namespace corvalin

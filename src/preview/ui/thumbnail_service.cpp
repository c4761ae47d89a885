#include "preview/ui/thumbnail_service.h"

#include "app/ui/form1.h"
#include "platform/program_folder.h"
#include "preview/ui/thumbnail_workers.h"

namespace corvalin {

ThumbnailService& ThumbnailService::of(Form1& form) {
    auto* service =
        form.findChild<ThumbnailService*>(QStringLiteral("thumbnailService"), Qt::FindDirectChildrenOnly);
    return service ? *service : *new ThumbnailService(form);
}

ThumbnailService::ThumbnailService(Form1& form)
    : QObject(&form), m_workers(new ThumbnailWorkers(thumbnailCacheFolder(), this)),
      m_follower(thumbnailCacheFolder()) {
    setObjectName(QStringLiteral("thumbnailService"));
    connect(&form, &Form1::runStateChanged, this, &ThumbnailService::runStateChanged);
    runStateChanged(form.runInProgress());
}

void ThumbnailService::follow(const std::filesystem::path& journal, JournalPass pass) {
    // A run without a journal (the benchmark's) leaves nothing to follow.
    if (!journal.empty())
        m_follower.add(journal, pass);
}

void ThumbnailService::runStateChanged(bool running) {
    m_workers->setPaused(running);
    m_follower.setPaused(running);
}

} // namespace corvalin

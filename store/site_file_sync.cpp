#include "store/site_file_sync.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include "store/site_data.h"
#include "store/text_file.h"
#include "support/codepage.h"

namespace hanabira {

namespace {

SiteList Parse(const std::string& bytes, SiteDataLoad* load = nullptr) {
    SiteList list;
    list.Tree = BuiltInCategoryTree();
    const SiteDataLoad l = ParseSiteData(bytes, list.Sites, list.Tree);
    if (load) *load = l;
    return list;
}

QString QPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace

SiteFileSync::SiteFileSync(std::string path, int settleMs, QObject* parent)
    : QObject(parent), path_(std::move(path)) {
    settle_.setSingleShot(true);
    settle_.setInterval(settleMs);
    connect(&settle_, &QTimer::timeout, this, [this] { Settled(); });
}

SiteFileSync::~SiteFileSync() = default;

void SiteFileSync::SetBase(std::string bytes) { base_ = std::move(bytes); }

void SiteFileSync::Watch() {
    watcher_ = std::make_unique<QFileSystemWatcher>();
    const QFileInfo info(QPath(path_));
    QStringList folders{info.absolutePath()};
    // A data file that is a link into a synced folder changes there, not in the program folder.
    const QString target = info.canonicalFilePath();
    if (!target.isEmpty() && QFileInfo(target).absolutePath() != folders.front())
        folders << QFileInfo(target).absolutePath();
    watcher_->addPaths(folders);
    if (info.exists()) watcher_->addPath(info.absoluteFilePath());
    connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, this, [this] { Touched(); });
    connect(watcher_.get(), &QFileSystemWatcher::fileChanged, this, [this] { Touched(); });
}

void SiteFileSync::Touched() {
    // A renamed-over file drops out of the watch; watch the new one (its folder is watched anyway).
    const QString file = QFileInfo(QPath(path_)).absoluteFilePath();
    if (watcher_ && QFileInfo::exists(file) && !watcher_->files().contains(file)) watcher_->addPath(file);
    settle_.start();
}

void SiteFileSync::Settled() {
    const QFileInfo info(QPath(path_));
    // Still being written: wait for quiet.
    if (info.exists() && info.lastModified().msecsTo(QDateTime::currentDateTime()) < settle_.interval()) {
        settle_.start();
        return;
    }
    if (ChangedOnDisk()) emit FileChanged();
}

bool SiteFileSync::ChangedOnDisk() const {
    // Gone (the next save writes it again) or unreadable (nothing to merge from; a save reports it).
    std::string bytes;
    if (ReadFileIfPresent(path_, bytes) != FileRead::Read) return false;
    return bytes != base_ && bytes != damaged_;
}

std::string SiteFileSync::ConflictPathNow() const {
    return path_ + ".conflict-" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
}

SiteFileSyncResult SiteFileSync::Sync(const TLightStrings& sites, const CategoryTree& tree, bool save) {
    SiteFileSyncResult result;
    std::string bytes;
    const FileRead state = ReadFileIfPresent(path_, bytes);
    const bool exists = state != FileRead::Missing;
    const bool read = state == FileRead::Read;

    auto write = [&](const std::string& path, const std::string& out) {
        if (WriteFileAtomic(path, out, &result.Error)) return true;
        result.outcome = SiteFileSyncResult::Failed;
        return false;
    };

    // Nothing there, our own last version, or something that is no readable file at all (a folder
    // in its place): a plain save, whose failure the caller reports.
    if (!exists || !read || bytes == base_) {
        if (!save) return result;
        const std::string out = SiteDataBytes(sites, tree);
        if (write(path_, out)) {
            base_ = out;
            result.outcome = SiteFileSyncResult::Saved;
        }
        return result;
    }

    SiteDataLoad load;
    const SiteList theirs = Parse(bytes, &load);
    if (load.status != SiteDataStatus::Loaded || load.treeError) {
        // Neither merged into nor written over: this program's list goes beside it. The same
        // damaged file seen again keeps one copy, updated, rather than a new one at every save.
        if (!save && bytes == damaged_) return result;
        const std::string copy = bytes == damaged_ ? damagedCopy_ : ConflictPathNow();
        const std::string why = load.treeError ? SjisLiteral("カテゴリツリーが読めません") : load.error;
        if (!write(copy, SiteDataBytes(sites, tree))) return result;
        damaged_ = bytes;
        damagedCopy_ = copy;
        result.outcome = SiteFileSyncResult::Conflict;
        result.ConflictPath = copy;
        result.Error = why;
        return result;
    }

    result.Merge = MergeSiteLists(Parse(base_), SiteList{sites, tree}, theirs);
    result.MergeDone = true;
    const std::string out = SiteDataBytes(result.Merge.Merged.Sites, result.Merge.Merged.Tree);
    if (write(path_, out)) {
        base_ = out;
        damaged_.clear();
        result.outcome = SiteFileSyncResult::Merged;
    }
    return result;
}

}  // namespace hanabira

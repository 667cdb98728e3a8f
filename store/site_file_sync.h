#pragma once
// Keeps the site data file and the program's list together when another copy (a synced folder, a
// second computer) writes the file while the program runs: it remembers the version this program
// last read or wrote, notices a changed file, and saves through a three-way merge, so that neither
// side's sites are written over.
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>

#include "store/site_merge.h"

class QFileSystemWatcher;

namespace hanabira {

struct SiteFileSyncResult {
    enum Outcome {
        Unchanged,  // the file is this program's last version (or missing) and nothing was asked to be saved
        Saved,      // this program's list was written
        Merged,     // the file had changed: the merged list was written (Merge holds it)
        Conflict,   // the file had changed but does not read: this program's list went to ConflictPath
        Failed,     // nothing could be written (Error says why)
    };
    Outcome outcome = Unchanged;
    SiteListMerge Merge;
    bool MergeDone = false;    // Merge holds the list the program must take over (Merged, or Failed after it)
    std::string ConflictPath;  // Conflict
    std::string Error;         // Failed; Conflict: why the changed file does not read
};

class SiteFileSync : public QObject {
    Q_OBJECT
public:
    // settleMs: how long the file must have been still before a change is judged, so that a copy
    // being written is not taken for a damaged one.
    explicit SiteFileSync(std::string path, int settleMs = 1000, QObject* parent = nullptr);
    ~SiteFileSync() override;

    // The bytes this program read at start (empty when there was no file).
    void SetBase(std::string bytes);
    // Watches the file's folder (a watch on the file itself is lost when a copy is renamed over it).
    void Watch();

    // Saves this program's list (save = true), or only merges in a changed file (save = false),
    // against the base.
    SiteFileSyncResult Sync(const TLightStrings& sites, const CategoryTree& tree, bool save);

    // Whether the file on disk differs from the base.
    bool ChangedOnDisk() const;

signals:
    // The file changed, has been still for a moment, and is not this program's last version.
    void FileChanged();

private:
    void Touched();
    void Settled();
    std::string ConflictPathNow() const;

    std::string path_;
    std::string base_;
    std::string damaged_;       // the last changed file that did not read, and where mine went then
    std::string damagedCopy_;
    std::unique_ptr<QFileSystemWatcher> watcher_;
    QTimer settle_;
};

}  // namespace hanabira

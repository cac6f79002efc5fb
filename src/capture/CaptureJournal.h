#pragma once

#include "CaptureList.h"
#include "DeferredDiskSync.h"
#include "Progress.h"
#include "SafeFile.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <memory>

// The capture journal: every change to the capture list is appended to a file beside the
// settings file and handed to the operating system before the change is shown, so a killed
// program loses nothing; the file is synced to the disk at most SyncDelayMs later, so a power cut
// loses at most that much. The disk sync runs on a thread of the journal's own: a slow disk never
// holds up the window or the rows arriving. Changes that belong together (a batch of rows drained from the input
// port) go out in one write. A clean exit removes the journal (the window decides what is one: a
// window closed with rows not saved keeps it); one found at start means the last run ended
// without one, and its rows can be recovered.
//
// Format: UTF-8 text, one record a line: fields separated by tabs (with \\, \t, \n and \r
// escaped inside fields), the last field the CRC-16 of the rest of the line in four hexadecimal
// digits. The first record is the header "CORVANE-JOURNAL", "2" (journals of version "1", which
// have neither L nor U records, are read as well). Records:
//   A item camera reader generator comment   a row appended
//   C row comment                            a comment set
//   D row [row ...]                          rows deleted (ascending)
//   X                                        the list cleared
//   S column                                 the list sorted by a column
//   L count [replaced]                       the first replaced rows (every row when the field
//                                            is left out) replaced by the count rows of the A
//                                            records that follow (a file loaded); the rows after
//                                            the replaced ones (appended while the file was
//                                            read) follow them
//   U                                        the newest change taken back (CaptureList::undo)
// Every record but A is a change that can be undone, so reading a journal gives back the list's
// undo steps as well: an undo still works after a crash.
class CaptureJournal : public QObject, public CaptureListObserver {
    Q_OBJECT
public:
    static constexpr int SyncDelayMs = 200;
    // The rows of a loaded file go out in writes of about this size.
    static constexpr qsizetype LoadWriteBytes = qsizetype(1) << 20;
    // When the sync starts after the first unsynced write: the rest is the disk's time.
    static constexpr int SyncStartMs = SyncDelayMs / 2;

    explicit CaptureJournal(QString path, QObject *parent = nullptr);
    ~CaptureJournal() override;

    const QString &path() const { return m_path; }
    bool isOpen() const { return m_file.isOpen(); }

    // Starts a new journal holding the list as it stands, and follows the list from now on. The
    // journal cannot hold the list's undo steps of before: they are forgotten.
    // Throws CorvaneError "Unable to write to <path> (<reason>)" when the file cannot be written.
    void start(CaptureList &list);
    // Goes on with a journal left behind whose rows the list now holds (recovered from it): the
    // file is kept, cut back to its first size bytes (its whole records), and followed by the
    // list's changes from now on; nothing is written again but the rows after the first
    // journaledRows (rows that arrived while the journal was read; all rows are journaled when it
    // is negative). False, with nothing followed, when the file cannot be opened or cut back
    // (start it anew then).
    bool resume(CaptureList &list, qint64 size, int journaledRows = -1);
    // True after a write (or a sync to the disk) failed while following the list: the journal has
    // stopped (the list goes on without it) and failed() was emitted once. A write that failed
    // part of the way was cut back: the file ends with the last whole record.
    bool hasFailed() const { return m_failed; }
    // Stops following the list, syncs and removes the journal (a clean exit).
    void finish();
    // Stops following the list and closes the journal, leaving the file (tests, crash-like ends).
    void close();
    // Writes buffered records and syncs the file now (waits for the disk).
    void sync();

    // What a journal left behind holds.
    enum class Found { Nothing, Rows, Damaged };
    struct Recovery {
        Found found = Found::Nothing;
        // The list as it was last shown (with Rows), with its undo steps.
        std::shared_ptr<CaptureList> list;
        int records = 0;                    // complete records replayed
        qint64 wholeSize = 0;               // bytes up to the end of the last of them
        bool cutRecord = false;             // the last record was cut short and is ignored
        QString problem;                    // why the journal is damaged
        // Whole records from a damaged one on that could not be read (the damaged one with them);
        // list then holds the rows before it, and the journal must be kept aside, not continued.
        int unreadRecords = 0;

        // The rows of list as texts (none without it).
        QList<CaptureList::RowTexts> rows() const;
    };
    // Reads a journal without changing it, its records straight into a capture list (no string
    // per field); progress is told of the bytes read. A record damaged with whole ones after it
    // gives the rows before it (Found::Rows, or Damaged when there are none) and unreadRecords.
    static Recovery read(const QString &path, const ProgressFn &progress = {});
    // Moves a journal aside under a name with the date and time (never deletes it); returns
    // the new path, or an empty text when it could not be moved.
    static QString moveAside(const QString &path);

    // CaptureListObserver
    void rowAppended(const CaptureList &list, int row) override;
    void commentSet(const CaptureList &list, int row) override;
    void rowsDeleted(const QList<int> &rows) override;
    void cleared() override;
    void sorted(int column) override;
    void changesDone() override;
    void rowsReplaced(const CaptureList &list, int loaded, int replaced) override;
    void undone() override;

signals:
    // A write failed while following the list (a full disk, a removed medium). Emitted once,
    // after the change of the list is complete; the journal follows the list no more, and what
    // it held before stays in its file.
    void failed(const QString &message);

public:
    // Counters for tests and benchmarks.
    int writeCount() const { return m_writes; }
    int syncCount() const { return m_disk.syncCount(); }

private:
    void record(const QStringList &fields);
    void writePending();
    void detach();
    void stopAfterFailure(const QString &reason);

    QString m_path;
    AppendFile m_file;
    // The list followed; it may go before the journal does (both children of one window).
    QPointer<CaptureList> m_list;
    QByteArray m_pending;
    DeferredDiskSync m_disk{SyncStartMs};
    bool m_failed = false;
    int m_writes = 0;
};

#pragma once

#include <QAbstractTableModel>
#include <QAnyStringView>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// The capture list: one row per captured edit event, in the order shown. Each row holds five
// texts: item number, camera state, reader timecode, generator timecode and comment. EDL
// generation and the capture file both work from these rows.
//
// Rows are kept compactly (about 80 bytes each) so that a list of a million rows stays small
// and fast: the four short texts live inside the row when they are Latin-1 and short enough (as
// every row made from a device event is), anything else goes to a per-row side block. Texts are
// stored exactly as given and never normalised.
//
// Views learn of appended rows one insertion at a time; bursts can be announced as a single
// insertion with AppendBatch or with deferred announcements (setDeferredInserts). count() always
// tells the real number of rows, rowCount() what the views have been told so far.
class CaptureList;

// Told of every change to a capture list, as it happens and before views learn of it (the
// capture journal). changesDone() closes a group of changes that belong together: one call, or
// a whole append batch.
class CaptureListObserver {
public:
    virtual ~CaptureListObserver() = default;
    virtual void rowAppended(const CaptureList &list, int row) = 0;
    virtual void commentSet(const CaptureList &list, int row) = 0;
    // Ascending, without repeats.
    virtual void rowsDeleted(const QList<int> &rows) = 0;
    virtual void cleared() = 0;
    virtual void sorted(int column) = 0;
    virtual void changesDone() = 0;
    // Rows replaced by rows loaded from a file: the first `replaced` rows of the list before the
    // change are gone, and the list now starts with `loaded` new rows; the rows after them are
    // the ones that followed the replaced rows (appended while the file was read). By default as
    // the list cleared and all its rows appended.
    virtual void rowsReplaced(const CaptureList &list, int loaded, int replaced);
    // The newest undoable change was taken back (CaptureList::undo).
    virtual void undone() {}
};

class CaptureList : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ItemColumn, CameraColumn, ReaderColumn, GeneratorColumn, CommentColumn };
    static constexpr int ColumnCount = 5;

    // The five texts of one row, for callers that want owned copies.
    struct RowTexts {
        QString item;
        QString camera;
        QString reader;
        QString generator;
        QString comment;
        friend bool operator==(const RowTexts &, const RowTexts &) = default;
    };

    // What addGpoEvent did with an event.
    enum class GpoEvent { Added, Gpo8Trigger };

    explicit CaptureList(QObject *parent = nullptr);
    ~CaptureList() override;

    // Table model. Rows are selectable, never editable in place.
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    // Always ascending, whatever order is asked for (see sortByColumn). A view with sorting
    // enabled would call it on its own; the window connects header clicks to sortByColumn.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // All rows, including appended rows not yet announced to views.
    int count() const { return static_cast<int>(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }

    QString text(int row, int column) const;
    // The text without a copy; valid until that row changes or the list changes shape.
    QAnyStringView textView(int row, int column) const;
    RowTexts rowTexts(int row) const;

    // A capture event from the device: the camera state must be hexadecimal (else CorvaneError
    // "'$<state>' is not a valid integer value" and no row is added). With the GPO8 option on, an
    // event with camera 8 (bit 0x80) set is a make-and-save trigger: it is not added and the
    // caller runs the trigger (which does nothing while the list is empty). Otherwise a row is
    // appended as appendEvent does.
    GpoEvent addGpoEvent(const QString &reader, const QString &generator, const QString &camera, bool gpo8Option);

    // Appends a row numbered nextItemNumber() ("%.4d") with an empty comment. The camera state is
    // checked as in addGpoEvent. Returns the new row's index.
    int appendEvent(QAnyStringView reader, QAnyStringView generator, QAnyStringView camera);

    // The number a new row takes: one more than the highest item number among the rows of the
    // list and the rows Undo can put back into it, 1 when there is none. Item texts that are not
    // numbers are passed over. Kept up to date as rows are appended; after rows go or come back
    // it is found again once, when next asked.
    qint64 nextItemNumber() const;
    // The number an item text stands for: decimal digits only (leading zeros allowed), at most 18
    // of them; nothing for any other text.
    static std::optional<qint64> itemNumber(QAnyStringView text);

    // Appends a row with the texts exactly as given (rows read from a capture file).
    void appendRow(QAnyStringView item, QAnyStringView camera, QAnyStringView reader, QAnyStringView generator,
                   const QString &comment);
    void appendRow(const RowTexts &row);

    void setComment(int row, const QString &comment);
    // Replaces the comment of the last row; false (and nothing changes) when the list is empty.
    bool setLastComment(const QString &comment);

    // Deletes exactly the rows given (any order, repeats and indexes out of range ignored); the
    // other rows keep their texts, item numbers included.
    void deleteRows(QList<int> rows);
    // Removes every row.
    void clear();
    // Replaces the first `replaced` rows (every row when it is negative or beyond the count) by
    // the rows of source (moved, not copied), which is left empty (a file loaded): the rows after
    // the replaced ones (appended while the file was read) follow the new rows. Views are reset,
    // the observer is told rowsReplaced; undo puts the replaced rows back in front of the rows
    // that follow.
    void replaceRows(CaptureList &source, int replaced = -1);

    // Sorts all rows ascending by one column with compareTexts (0 = item number), stable, and
    // remembers the column. Later rows are appended at the end.
    void sortByColumn(int column);
    int sortColumn() const { return m_sortColumn; }

    // --- Undo ------------------------------------------------------------------------------
    // With undo on, every change made to the rows other than an appended row (a comment, rows
    // deleted, the list cleared or sorted, its rows replaced by loaded ones) is kept so that it
    // can be taken back, newest first. Rows are only ever appended at the end, so an undo puts
    // back exactly what the change took and leaves the rows appended since then where they are,
    // after the others. The rows a change took are moved into its step, never copied.
    //
    // Bounds: at most MaxUndoSteps steps; the steps before the newest hold at most
    // UndoBudgetBytes of rows and texts together (the oldest go first). The newest step is
    // always kept, whatever its size: a million rows deleted can always be put back, and never
    // cost more than the list they were.
    static constexpr int MaxUndoSteps = 100;
    static constexpr qsizetype UndoBudgetBytes = qsizetype(128) << 20;
    void setUndoEnabled(bool on);
    bool undoEnabled() const { return m_undoEnabled; }
    bool canUndo() const { return !m_undo.empty(); }
    int undoSteps() const { return static_cast<int>(m_undo.size()); }
    // What the kept steps hold, for the memory figures (the newest included).
    qsizetype undoBytes() const;
    // Takes back the newest change; false (nothing changes) when there is none.
    bool undo();
    // Forgets every step.
    void clearUndo();
    // Another budget for the steps before the newest (tests); a journal read back keeps the
    // default, so only a list that is not journaled may have another.
    void setUndoBudgetBytes(qsizetype bytes) { m_undoBudget = bytes; }
    // Takes over the rows, the sort column and the undo steps of source (a list recovered from
    // the journal), which is left empty: as replaceRows for views and the observer, but not a
    // change that can be undone.
    void adoptRows(CaptureList &source);
    // Counts every change of the rows (appended rows included); equal counts mean equal rows.
    quint64 changeCount() const { return m_changes; }

    // Announces appended rows to views in one insertion when the outermost batch ends.
    class AppendBatch {
    public:
        explicit AppendBatch(CaptureList &list);
        ~AppendBatch();
        AppendBatch(const AppendBatch &) = delete;
        AppendBatch &operator=(const AppendBatch &) = delete;

    private:
        CaptureList &m_list;
    };

    // On: appended rows are announced together when control returns to the event loop, so a
    // burst of device events costs views one insertion. Any other change announces them first.
    void setDeferredInserts(bool on);
    bool deferredInserts() const { return m_deferInserts; }
    // Announces appended rows now.
    void announcePendingRows();

    // "%.4d": at least four digits, zero-padded.
    static QString formatItemNumber(qint64 number);
    // The camera state as a number: hexadecimal digits only, at most 32 bits.
    static bool tryParseCameraState(QAnyStringView text, quint32 *mask);
    // As tryParseCameraState; throws CorvaneError "'$<text>' is not a valid integer value".
    static quint32 parseCameraState(QAnyStringView text);
    // The sort comparison: letters a to z compare as A to Z, everything else by character code.
    // Negative, zero or positive.
    static int compareTexts(QAnyStringView a, QAnyStringView b);
    // The caption shown after a key is released in the list: "M" first selected row "C" count
    // (M3C2), or "invalid" when nothing is selected.
    static QString selectionCaption(const QList<int> &selectedRows);

    // The size of one stored row, for the memory figures.
    static size_t storedRowSize();

    // Installs the observer (not owned), or none.
    void setObserver(CaptureListObserver *observer) { m_observer = observer; }
    CaptureListObserver *observer() const { return m_observer; }

signals:
    // canUndo() changed.
    void undoAvailable(bool available);

private:
    // A text of at most Capacity Latin-1 characters kept inside the row.
    template <int Capacity>
    struct InlineText {
        quint8 size = 0;
        char bytes[Capacity] = {};
        bool tryAssign(QAnyStringView text);
        QLatin1String view() const { return QLatin1String(bytes, size); }
    };

    struct Row {
        InlineText<7> item;
        InlineText<7> camera;
        InlineText<15> reader;
        InlineText<15> generator;
        QString comment;
        // Item, camera, reader and generator when one of them does not fit inside the row.
        std::unique_ptr<QString[]> spilled;
    };

    void storeRow(Row &row, QAnyStringView item, QAnyStringView camera, QAnyStringView reader,
                  QAnyStringView generator) const;
    static QAnyStringView itemOf(const Row &row);
    // The highest item number is found again when next needed (rows went or came back).
    void forgetHighestItem() { m_highestItemKnown = false; }
    void pushRow(Row &&row);
    void beginChange();
    void scheduleAnnouncement();

    // One change kept for undo.
    struct UndoStep {
        enum class Kind { Comment, Delete, Sort, Load } kind = Kind::Comment;
        int row = 0;           // Comment: the row
        QString comment;       // Comment: its comment before
        std::vector<Row> rows; // Delete, Load: the rows taken, in their order
        // Delete: where the rows were, as ascending (first index, count) ranges of the list
        // before the deletion.
        std::vector<std::pair<int, int>> ranges;
        int loaded = 0;         // Load: the rows loaded, at the front of the list
        std::vector<int> order; // Sort: order[to] = from, over the rows sorted
        int column = 0;         // Sort: the sort column before
        qsizetype bytes() const;
    };
    void pushUndo(UndoStep &&step);
    void undoDelete(UndoStep &step);
    void undoSort(const UndoStep &step);
    void undoLoad(UndoStep &step);
    // Moves the rows of the ascending ranges out of the list into step (the list keeps empty
    // rows there until they are erased).
    void takeRows(UndoStep &step, const QList<std::pair<int, int>> &descendingRanges);

    std::vector<Row> m_rows;
    int m_announced = 0;        // rows the views know of
    int m_batchDepth = 0;
    bool m_deferInserts = false;
    bool m_announcementQueued = false;
    int m_sortColumn = 0;
    CaptureListObserver *m_observer = nullptr;
    bool m_undoEnabled = false;
    std::vector<UndoStep> m_undo; // oldest first
    qsizetype m_undoBudget = UndoBudgetBytes;
    quint64 m_changes = 0;
    // The highest item number of the rows and the undo steps (0: none), while known.
    mutable qint64 m_highestItem = 0;
    mutable bool m_highestItemKnown = true;

    // Closes a group of changes for the observer, unless a batch is still open.
    void changesDone();
};

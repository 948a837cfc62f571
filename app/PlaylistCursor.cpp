#include "app/PlaylistCursor.h"

namespace {
// A marker that named a row of a list of rows rows.
bool NamesRow(int marker, int rows) {
    return marker >= 0 && marker < rows;
}

int AfterMove(int marker, int from, int to, int rows) {
    if (!NamesRow(marker, rows))
        return marker;
    if (marker == from)
        return to;
    if (from < marker && marker <= to)
        return marker - 1;
    if (to <= marker && marker < from)
        return marker + 1;
    return marker;
}
} // namespace

void PlaylistCursor::RowRemoved(int index, int rowsLeft) {
    const int rowsBefore = rowsLeft + 1;
    if (NamesRow(CurrentIndex, rowsBefore)) {
        if (CurrentIndex == index)
            CurrentIndex = -1;
        else if (CurrentIndex > index)
            --CurrentIndex;
    }
    if (NamesRow(NextIndex, rowsBefore) && NextIndex > index)
        --NextIndex;
    if (NextIndex >= rowsLeft)
        NextIndex = 0;
}

void PlaylistCursor::RowsInserted(int first, int count, int rowsBefore) {
    if (count <= 0)
        return;
    if (NamesRow(CurrentIndex, rowsBefore) && CurrentIndex >= first)
        CurrentIndex += count;
    if (NamesRow(NextIndex, rowsBefore) && NextIndex >= first)
        NextIndex += count;
}

void PlaylistCursor::RowMoved(int from, int to, int rowCount) {
    if (from == to || !NamesRow(from, rowCount) || !NamesRow(to, rowCount))
        return;
    CurrentIndex = AfterMove(CurrentIndex, from, to, rowCount);
    NextIndex = AfterMove(NextIndex, from, to, rowCount);
}

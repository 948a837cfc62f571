#pragma once

// The playlist's two markers: the row started last (green) and the row Next plays
// (yellow). They stay on their rows through every edit of the list: rows removed,
// inserted or moved above a marker shift it; a marker past the end of the list
// (a "Repetir desde:" row not there yet) or -1 names no row and stays as it is.
struct PlaylistCursor {
    int CurrentIndex = 0;
    int NextIndex = 0;

    // One row at index has left the list; rowsLeft rows remain. The playing row
    // itself gone: CurrentIndex -1 (the clip plays on). The next row itself gone:
    // NextIndex stays on the row that took its place, or goes back to the first row
    // when the removed row was the last.
    void RowRemoved(int index, int rowsLeft);
    // count rows were inserted at first; the list held rowsBefore rows before.
    void RowsInserted(int first, int count, int rowsBefore);
    // The row at from now sits at to (both indices of the list of rowCount rows).
    void RowMoved(int from, int to, int rowCount);
    // "Limpiar Lista": no row.
    void Clear() { CurrentIndex = NextIndex = -1; }
};

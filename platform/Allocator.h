#pragma once

// Tunes the C library's allocator for a desk that plays media for hours. Call it
// first in main().
//
// glibc serves a large block (from 128 KiB) from a mapping of its own, which goes back
// to the system when the block is freed, but each such free raises that threshold up
// to the size of the block. After the first video frames are released, frames of a
// few hundred kilobytes therefore come from the heaps ("arenas") of libVLC's decoder
// and output threads; those threads change with every clip, and the arenas keep the
// freed space scattered between blocks still in use. Fixing the threshold keeps every
// large block in a mapping of its own.
void TuneAllocatorForLongRuns();

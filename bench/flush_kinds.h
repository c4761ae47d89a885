#pragma once

/* What the slow-disk model counts, in the order of its counter file: one 64-bit counter each.
   Shared by the model (C) and the bench (C++). */
enum FlushKind {
    kFlushFsync,
    kFlushFdatasync,
    kFlushSyncfs,
    kFlushSync,
    kFlushMsync,
    kFlushSyncFileRange,
    kFlushSyncWrite,
    kFlushKinds
};

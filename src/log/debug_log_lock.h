#pragma once
// One process-wide lock around the open-append-close of a debug log line, so
// that lines written at the same moment by several workers never mix.
void LockDebugLog();
void UnlockDebugLog();

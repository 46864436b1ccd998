// zar-sim --decode: a trace file written earlier, decoded into the same lines
// that --spi-log gives during the run that wrote it.
#pragma once

namespace zar::sim {

// Writes to logPath, or to the console when it is nullptr. Returns 0, or
// EXIT_BAD_TRACE when lines were skipped (each reported with its number, the
// first few in full), or EXIT_USAGE when a file can't be read or written.
int DecodeTraceFile(const char* tracePath, const char* logPath);

}  // namespace zar::sim

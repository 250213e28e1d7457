#ifndef ISIG_STREAM_DEVICE_H
#define ISIG_STREAM_DEVICE_H

// A board's stream device file (".strm<n>", ".event", ".health"), read in whole atoms. The
// device delivers a byte stream; these functions cut it into atoms, keeping an atom that arrived
// in part for the next read, so a reader never sees a partial atom. Every call on the device goes
// through devio, where a simulator may serve the path (sim/devices/stream_device.h).
//
// One thread reads a descriptor at a time; another thread may interrupt or close it meanwhile,
// which wakes the reader at once.

#include <string>

#include "isig/isig_export.h"
#include "isig/signal_types.h"

namespace isig {

// Opens the device for reading atoms of `atomSize` bytes (groups of `groupSize` atoms are read
// at most): the descriptor. Throws istd::Exception "isig: Can't open stream device <path>:
// <reason>".
ISIG_API int OpenKavrelStreamDevice(const std::string& path, unsigned atomSize, unsigned groupSize);

// Reads whole atoms into `data`, at most `bytes` (rounded down to whole atoms), waiting until at
// least one atom is there and then taking whatever else is ready without waiting. `atoms` is
// always set to the atoms stored in `data`. Results:
//   0   atoms arrived (a failure met after them is the next read's result);
//   -2  no atoms: the descriptor was interrupted or closed, or the device reached its end (the
//       call then waits 100 ms first, so that a reader at the end does not spin);
//   -1  the device failed (errno tells why), the descriptor is not one of these functions', or
//       `bytes` holds no whole atom.
ISIG_API int KavrelStreamRead(int fd, void* data, unsigned bytes, unsigned atomSize, unsigned& atoms);

// Wakes a read in progress and makes every later read answer -2 at once; the descriptor stays
// open until closed.
ISIG_API void InterruptKavrelStreamDevice(int fd);

// Interrupts the descriptor, waits until no read is in progress, then closes it. A descriptor
// that is not one of these functions' is left alone.
ISIG_API void CloseKavrelStreamDevice(int fd);

// Appends the item "device": atoms read (count1) and reads that ended with an atom in part
// (count2), with the atom size given. Nothing for a descriptor that is not open.
ISIG_API void GetKavrelDeviceStatistics(int fd, unsigned atomSize, SignalStats& stats);

} // namespace isig

#endif

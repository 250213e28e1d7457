#ifndef IAPP_OPEN_STREAM_CLIENT_H
#define IAPP_OPEN_STREAM_CLIENT_H

// Opening a client of a board's signal stream from a component: a failure is traced, never
// thrown, so that a reader thread or a command ends quietly when the board's stream cannot
// serve it.

#include <exception>

#include "isig/signal_types.h"
#include "istd/trace.h"

namespace iapp {

// client.Open(); a failure is traced at the level as "<client>: can't open: <code or reason>". An
// exception (the stream's device did not open) counts as -1.
template <class CLIENT>
isig::SuccessCode_e OpenStreamClient(CLIENT& client, int level = 1)
{
    try {
        const isig::SuccessCode_e code = client.Open();
        if (code != isig::eSuccess) {
            ISTD_TRACE(level, client.GetName() << ": can't open: " << code);
        }
        return code;
    } catch (const std::exception& e) {
        ISTD_TRACE(level, client.GetName() << ": can't open: " << e.what());
        return isig::eFailure;
    }
}

} // namespace iapp

#endif
